// An updater agent for the tests that run the real platform: it answers the
// question as told (yes unless `answer` is set false), counts how often it
// was asked and records the progress it was shown.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "update/auto_updater.h"

namespace parlex::test {

struct AnsweringAgent : update::IUpdateAgent {
  bool answer = true;
  int asked = 0;
  std::vector<int64_t> received;

  bool AskToUpdate() override {
    ++asked;
    return answer;
  }
  std::unique_ptr<update::IDownloadProgress> ShowProgress(int64_t) override {
    struct Progress : update::IDownloadProgress {
      explicit Progress(AnsweringAgent& a) : agent(a) {}
      void Update(int64_t r, int64_t) override { agent.received.push_back(r); }
      AnsweringAgent& agent;
    };
    return std::make_unique<Progress>(*this);
  }
};

}  // namespace parlex::test
