// How one capture ended, for the support log: what the agent did and, for a
// send, what the server said, how many bytes went and how long it took, or
// why nothing arrived. Never the picture or the server's reply text.
#pragma once

#include <cstdint>
#include <string>

namespace parlex {

struct CaptureReport {
  enum class Outcome : uint8_t {
    kNone,        // the capture ended before anything was chosen (the program left)
    kCancelled,   // Esc or the cancel command, nothing sent or saved
    kSaved,       // written where the agent chose
    kSaveFailed,  // the agent chose a file, but it could not be written
    kCopied,      // put on the clipboard
    kSent,        // uploaded, the server answered
    kNotSent,     // the upload failed or was given up; the picture was kept
  };
  Outcome outcome = Outcome::kNone;
  // Sent and not sent: the reply's HTTP status, 0 when none came.
  int httpStatus = 0;
  uint64_t bytes = 0;        // the image's size
  int64_t milliseconds = 0;  // from the send's click to its end
  std::u16string reason;     // not sent, save failed: why, in words
};

}  // namespace parlex
