#include "capture/track_loop.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "capture/pixel_canvas.h"
#include "tracker_fakes.h"

namespace parlex {
namespace {

using testing::RecordingOwner;
using testing::ScriptedHost;
using testing::Str;
using Kind = TrackEvent::Kind;

constexpr uint32_t kQ = 0x51, kW = 0x57, kE = 0x45;

// A tracker as the capture dialog sets it up, painted once around the
// owner's selection (100, 100, 200, 160): tracker rect (98, 98, 202, 162).
struct Rig {
  RecordingOwner owner;
  CAxTracker tracker{nullptr, 6, 300, kQ, kW, kE};
  ScriptedHost host;

  Rig() {
    tracker.SetEvents(&owner);
    tracker.style = 0x37FC;
    PixelBuffer scratch(400, 300);
    PixelCanvas c(scratch);
    tracker.Draw(c);
    owner.log.clear();
  }
  // The capture dialog's call: no rubber band, 8, 8, 5, 5, no feedback.
  bool Track(Point p, bool feedback = false, bool rubberBand = false) {
    return tracker.Track(host, p, rubberBand, 8, 8, 5, 5, feedback);
  }
};

TEST(TrackStart, RefusesPartsWithoutACursorAndAForeignCaptureWithoutTouchingAnything) {
  Rig rig;
  const PixelBuffer before = rig.host.buffer;
  EXPECT_FALSE(rig.Track({120, 99}));   // band between handles: no band style
  EXPECT_FALSE(rig.Track({300, 250}));  // outside
  EXPECT_TRUE(rig.host.log.empty());
  rig.tracker.style &= ~CAxTracker::tsHandleTop;
  EXPECT_FALSE(rig.Track({150, 99}));  // disabled handle
  rig.tracker.style &= ~CAxTracker::tsMovable;
  EXPECT_FALSE(rig.Track({150, 130}));  // interior of an immovable rectangle
  EXPECT_TRUE(rig.host.log.empty());

  rig.tracker.style = 0x37FC;
  rig.host.otherHoldsCapture = true;
  EXPECT_FALSE(rig.Track({150, 130}));
  EXPECT_EQ(rig.host.log, (std::vector<std::string>{"IsCaptureHeld"}));
  EXPECT_TRUE(rig.owner.log.empty());
  EXPECT_EQ(rig.host.buffer, before);
}

TEST(TrackMove, MovesCommitsOnReleaseAndGivesEverythingBack) {
  Rig rig;
  const PixelBuffer before = rig.host.buffer;
  rig.host.Move(160, 135);
  rig.host.Move(160, 135);  // no change: no cursor, nothing shown
  rig.host.Move(170, 120);
  rig.host.Add(TrackEvent::Simple(Kind::kLeftUp));
  EXPECT_TRUE(rig.Track({150, 130}));
  EXPECT_EQ(rig.owner.log, (std::vector<std::string>{
                               "GetRect", "OnTracking (110,105,210,165)", "OnTracking (110,105,210,165)",
                               "OnTracking (120,90,220,150)", "OnTrackEnd (120,90,220,150)"}));
  ASSERT_EQ(rig.owner.tracking.size(), 3u);
  EXPECT_EQ(rig.owner.tracking[0].hit, CAxTracker::hitInside);
  EXPECT_EQ(rig.owner.tracking[0].previous, (Rect{100, 100, 200, 160}));
  EXPECT_EQ(rig.owner.tracking[2].previous, (Rect{110, 105, 210, 165}));
  EXPECT_EQ(rig.owner.tracking[0].extX, 0);
  EXPECT_EQ(rig.host.log,
            (std::vector<std::string>{"IsCaptureHeld", "DiscardMouseMoves", "TakeCapture", "AcquireCanvas",
                                      "SetCursor 5", "SetCursor 5", "ReleaseCanvas", "ReleaseCapture"}));
  EXPECT_FALSE(rig.host.weHoldCapture);
  EXPECT_EQ(rig.host.canvasesOut, 0);
  EXPECT_EQ(rig.host.modeAtRelease, RasterMode::kCopyPen);  // the old raster mode is back
  EXPECT_EQ(rig.host.buffer, before);                       // no feedback: nothing drawn
  EXPECT_EQ(rig.tracker.rect, (Rect{98, 98, 202, 162}));    // the loop leaves rect alone
}

TEST(TrackMove, EndsCommittedOnEscOrRightButtonAndUncommittedOnCaptureLoss) {
  {
    Rig rig;
    rig.host.Move(151, 131);
    rig.host.Add(TrackEvent::KeyDown(kVkEscape));
    EXPECT_TRUE(rig.Track({150, 130}));
    EXPECT_EQ(rig.owner.ended, (std::vector<Rect>{{101, 101, 201, 161}}));
  }
  {
    Rig rig;
    rig.host.Move(140, 130);
    rig.host.Add(TrackEvent::Simple(Kind::kRightDown));
    EXPECT_TRUE(rig.Track({150, 130}));
    EXPECT_EQ(rig.owner.ended, (std::vector<Rect>{{90, 100, 190, 160}}));
  }
  {
    // Another window takes the capture: the next message ends the drag.
    Rig rig;
    rig.host.Move(140, 130);
    rig.host.Do([&] { rig.host.weHoldCapture = false; });
    rig.host.Add(TrackEvent::Simple(Kind::kLeftUp));
    EXPECT_FALSE(rig.Track({150, 130}));
    EXPECT_TRUE(rig.owner.ended.empty());
    EXPECT_EQ(rig.owner.tracking.size(), 1u);  // what the owner got stays with it
    EXPECT_EQ(rig.host.canvasesOut, 0);
    EXPECT_EQ(rig.host.log.back(), "ReleaseCapture");
  }
  {
    // A capture-lost notice does the same.
    Rig rig;
    rig.host.Add(TrackEvent::Simple(Kind::kCaptureLost));
    EXPECT_FALSE(rig.Track({150, 130}));
    EXPECT_TRUE(rig.owner.ended.empty());
  }
}

TEST(TrackMove, AQuitRequestEndsTheDragUncommittedAndIsPostedAgain) {
  Rig rig;
  rig.host.Move(140, 130);
  rig.host.Add(TrackEvent::Quit(32778));
  EXPECT_FALSE(rig.Track({150, 130}));
  EXPECT_TRUE(rig.owner.ended.empty());
  ASSERT_GE(rig.host.log.size(), 3u);
  EXPECT_EQ(rig.host.log[rig.host.log.size() - 3], "ReleaseCanvas");
  EXPECT_EQ(rig.host.log[rig.host.log.size() - 2], "ReleaseCapture");
  EXPECT_EQ(rig.host.log.back(), "RepostQuit 32778");
  EXPECT_EQ(rig.host.eventsServed, 2);

  Rig broken;
  broken.host.Move(140, 130);  // then the script runs out: retrieval fails
  EXPECT_FALSE(broken.Track({150, 130}));
  EXPECT_TRUE(broken.host.ranOut);
  EXPECT_EQ(broken.host.log.back(), "ReleaseCapture");
}

TEST(TrackMove, OtherMessagesAreDispatchedKeyboardAndHandledMouseMessagesAreNot) {
  Rig rig;
  int dispatched = 0;
  rig.host.onDispatch = [&](const TrackEvent&) { ++dispatched; };
  rig.host.Add(TrackEvent::Simple(Kind::kOther));
  rig.host.Add(TrackEvent::KeyDown(0x41));  // 'A': swallowed
  rig.host.Add(TrackEvent::KeyUp(0x41));
  rig.host.Add(TrackEvent::Timer(7, true));  // not ours
  rig.host.Add(TrackEvent::Simple(Kind::kMouseWheel));
  rig.host.Add(TrackEvent::Timer(CAxTracker::kFeedbackTimerId, false));  // ours, but another window's
  rig.host.Add(TrackEvent::Simple(Kind::kLeftUp));
  EXPECT_TRUE(rig.Track({150, 130}));
  EXPECT_EQ(dispatched, 4);
}

TEST(TrackExtension, WidenedMoveShowsSixteenMoreAndEndsWithoutTheExtension) {
  Rig rig;
  rig.host.keysDown.insert(kQ);  // already down when the drag starts
  rig.host.Move(160, 130);
  rig.host.Add(TrackEvent::Simple(Kind::kLeftUp));  // key still held
  EXPECT_TRUE(rig.Track({150, 130}));
  ASSERT_EQ(rig.owner.tracking.size(), 1u);
  EXPECT_EQ(rig.owner.tracking[0].proposed, (Rect{102, 100, 218, 160}));  // moved by 10, 16 wider
  EXPECT_EQ(rig.owner.tracking[0].previous, (Rect{92, 100, 208, 160}));
  EXPECT_EQ(rig.owner.tracking[0].extX, 8);
  EXPECT_EQ(rig.owner.tracking[0].extY, 0);
  EXPECT_EQ(rig.owner.ended, (std::vector<Rect>{{110, 100, 210, 160}}));
}

TEST(TrackExtension, KeysDuringTheDragWidenHeightenAndTheirReleaseTakesItBack) {
  Rig rig;
  rig.host.Add(TrackEvent::KeyDown(kQ));
  rig.host.Add(TrackEvent::KeyDown(kQ));  // auto-repeat: once only
  rig.host.Move(150, 130);
  rig.host.Add(TrackEvent::KeyDown(kW));
  rig.host.Move(150, 131);
  rig.host.Add(TrackEvent::KeyUp(kQ));
  rig.host.Move(150, 132);
  rig.host.Add(TrackEvent::KeyUp(kW));
  rig.host.Move(150, 133);
  rig.host.Add(TrackEvent::Simple(Kind::kLeftUp));
  EXPECT_TRUE(rig.Track({150, 130}));
  ASSERT_EQ(rig.owner.tracking.size(), 4u);
  EXPECT_EQ(rig.owner.tracking[0].proposed, (Rect{92, 100, 208, 160}));
  EXPECT_EQ(rig.owner.tracking[1].proposed, (Rect{92, 93, 208, 169}));
  EXPECT_EQ(rig.owner.tracking[1].extY, 8);
  EXPECT_EQ(rig.owner.tracking[2].proposed, (Rect{100, 94, 200, 170}));
  EXPECT_EQ(rig.owner.tracking[2].extX, 0);
  EXPECT_EQ(rig.owner.tracking[3].proposed, (Rect{100, 103, 200, 163}));
  EXPECT_EQ(rig.owner.ended, (std::vector<Rect>{{100, 103, 200, 163}}));
}

TEST(TrackExtension, ShrinkKeyTakesThirteenFromEachSideAndItsReleaseGivesThemBack) {
  Rig rig;
  rig.host.Add(TrackEvent::KeyDown(kQ));
  rig.host.Move(150, 130);
  rig.host.Add(TrackEvent::KeyDown(kE));
  rig.host.Move(150, 130);
  rig.host.Add(TrackEvent::KeyUp(kE));
  rig.host.Move(150, 130);
  rig.host.Add(TrackEvent::KeyDown(kE));
  rig.host.Add(TrackEvent::Simple(Kind::kLeftUp));  // released while shrinking
  EXPECT_TRUE(rig.Track({150, 130}));
  ASSERT_EQ(rig.owner.tracking.size(), 3u);
  EXPECT_EQ(rig.owner.tracking[0].proposed, (Rect{92, 100, 208, 160}));
  EXPECT_EQ(rig.owner.tracking[0].extX, 8);
  EXPECT_EQ(rig.owner.tracking[1].proposed, (Rect{105, 100, 195, 160}));  // -13 on each side
  EXPECT_EQ(rig.owner.tracking[1].extX, -5);
  EXPECT_EQ(rig.owner.tracking[2].proposed, (Rect{92, 100, 208, 160}));
  EXPECT_EQ(rig.owner.tracking[2].extX, 8);
  EXPECT_EQ(rig.owner.ended, (std::vector<Rect>{{100, 100, 200, 160}}));

  // Shrink held from the start with the widen key: narrower from the first move.
  Rig held;
  held.host.keysDown = {kQ, kE};
  held.host.Move(150, 130);
  held.host.Add(TrackEvent::Simple(Kind::kLeftUp));
  EXPECT_TRUE(held.Track({150, 130}));
  EXPECT_EQ(held.owner.tracking[0].proposed, (Rect{105, 100, 195, 160}));
  EXPECT_EQ(held.owner.ended, (std::vector<Rect>{{100, 100, 200, 160}}));
}

TEST(TrackResize, EdgesAreDraggedPastEachOtherUnordered) {
  Rig rig;
  rig.host.Move(250, 130);
  rig.host.Add(TrackEvent::Simple(Kind::kLeftUp));
  EXPECT_TRUE(rig.Track({99, 130}));  // left handle
  EXPECT_EQ(rig.owner.tracking[0].hit, CAxTracker::hitLeft);
  EXPECT_EQ(rig.owner.tracking[0].proposed, (Rect{250, 100, 200, 160}));
  EXPECT_EQ(rig.owner.ended, (std::vector<Rect>{{250, 100, 200, 160}}));
  // A resize shows no drag cursor.
  EXPECT_TRUE(rig.host.cursors.empty());

  Rig corner;
  corner.host.Move(50, 20);
  corner.host.Add(TrackEvent::Simple(Kind::kLeftUp));
  EXPECT_TRUE(corner.Track({201, 161}));
  EXPECT_EQ(corner.owner.ended, (std::vector<Rect>{{100, 100, 50, 20}}));
}

TEST(TrackResize, RubberBandDragsTheCornerOfAOnePointRectangleAndIgnoresTheKeys) {
  Rig rig;
  rig.host.keysDown.insert(kQ);
  rig.host.Add(TrackEvent::KeyDown(kQ));
  rig.host.Add(TrackEvent::KeyDown(kE));
  rig.host.Move(40, 35);
  rig.host.Add(TrackEvent::Simple(Kind::kLeftUp));
  EXPECT_TRUE(rig.Track({10, 20}, false, true));  // outside any tracker part
  EXPECT_EQ(rig.owner.log,
            (std::vector<std::string>{"OnTracking (10,20,40,35)", "OnTrackEnd (10,20,40,35)"}));
  EXPECT_EQ(rig.owner.tracking[0].hit, CAxTracker::hitBottomRight);
  EXPECT_EQ(rig.owner.tracking[0].previous, (Rect{10, 20, 10, 20}));
}

TEST(TrackDirection, FiveStrictlyMonotonicSamplesDecideStartingFromTheStartCorner) {
  // The history starts as four copies of the start rectangle's top-left
  // (100, 100), not the press point (150, 130): a first move to x = 120 is
  // already "rightward" after three more rising samples.
  Rig rig;
  for (int x : {120, 130, 140, 145}) rig.host.Move(x, 130);
  rig.host.Add(TrackEvent::Simple(Kind::kLeftUp));
  rig.Track({150, 130});
  ASSERT_EQ(rig.owner.tracking.size(), 4u);
  EXPECT_TRUE(rig.owner.tracking[2].xDir);
  EXPECT_FALSE(rig.owner.tracking[3].xDir);  // 100 < 120 < 130 < 140 < 145
  EXPECT_TRUE(rig.owner.tracking[3].yDir);   // 100, 130, 130...: not monotonic, stays 1

  // Falling samples give 1 again; a repeated sample holds the flag until five
  // strictly monotonic samples follow it.
  Rig back;
  for (int x : {160, 170, 180, 190, 180, 170, 160, 150, 160, 170, 170, 180, 190, 200, 210})
    back.host.Move(x, 130);
  back.host.Add(TrackEvent::Simple(Kind::kLeftUp));
  back.Track({150, 130});
  std::string dirs;
  for (const auto& t : back.owner.tracking) dirs += t.xDir ? '1' : '0';
  EXPECT_EQ(dirs, "111000011111110");

  Rig down;
  for (int y : {131, 132, 133, 134}) down.host.Move(150, y);
  down.host.Add(TrackEvent::Simple(Kind::kLeftUp));
  down.Track({150, 130});
  EXPECT_FALSE(down.owner.tracking[3].yDir);  // downward
}

TEST(TrackFeedback, FrameAppearsAfterTheDelayFollowsTheRectangleAndLeavesEveryPixelAsItWas) {
  Rig rig;
  rig.owner.drawInFeedback = true;
  const PixelBuffer before = rig.host.buffer;
  PixelBuffer shown(1, 1);
  rig.host.Add(TrackEvent::Timer(CAxTracker::kFeedbackTimerId, true));
  rig.host.Do([&] { shown = rig.host.buffer; });
  rig.host.Move(160, 140);
  rig.host.Add(TrackEvent::KeyDown(kQ));
  rig.host.Add(TrackEvent::KeyDown(kE));
  rig.host.Add(TrackEvent::KeyDown(kW));
  rig.host.Add(TrackEvent::KeyUp(kE));
  rig.host.Add(TrackEvent::KeyUp(kQ));
  rig.host.Add(TrackEvent::Simple(Kind::kLeftUp));
  EXPECT_TRUE(rig.Track({150, 130}, true));
  EXPECT_EQ(rig.host.buffer, before);

  // After the timer: the dotted frame around (100, 100, 200, 160), every
  // second pixel of its top row inverted (black under not-xor).
  auto inverted = [&](int x, int y) { return shown.At(x, y) == (~before.At(x, y) & 0xFFFFFF); };
  EXPECT_TRUE(inverted(100, 100));
  EXPECT_FALSE(inverted(101, 100));
  EXPECT_TRUE(inverted(102, 100));
  EXPECT_TRUE(inverted(198, 159));
  EXPECT_TRUE(inverted(100, 102));
  EXPECT_TRUE(inverted(199, 102));
  EXPECT_FALSE(inverted(100, 101));
  EXPECT_EQ(rig.host.log[4], "SetTimer 1048319 300");
  EXPECT_NE(std::find(rig.host.log.begin(), rig.host.log.end(), "KillTimer 1048319"), rig.host.log.end());
  // The owner drew and removed its part of the feedback each time, with
  // the rectangle inside the frame.
  int draws = 0;
  for (const auto& l : rig.owner.log) draws += l.rfind("OnDrawTracking", 0) == 0;
  EXPECT_EQ(draws % 2, 0);
  EXPECT_GE(draws, 4);
  EXPECT_EQ(rig.owner.log[1], "OnDrawTracking (100,100,200,160)");
}

TEST(TrackFeedback, ExtensionFrameIsDashedAroundTheExtendedRectangle) {
  Rig rig;
  const PixelBuffer before = rig.host.buffer;
  PixelBuffer shown(1, 1);
  rig.host.Add(TrackEvent::KeyDown(kQ));  // not shown yet: shows the frame now
  rig.host.Do([&] { shown = rig.host.buffer; });
  rig.host.Add(TrackEvent::Simple(Kind::kLeftUp));
  EXPECT_TRUE(rig.Track({150, 130}, true));
  EXPECT_EQ(rig.host.buffer, before);
  const Color ext = CAxTracker::kExtensionFrameColor;
  auto extension = [&](int x, int y) { return shown.At(x, y) == (~(ext ^ before.At(x, y)) & 0xFFFFFF); };
  // Extended rectangle (92, 100, 208, 160): dashes 3 on 1 off counted from x = 208.
  std::string top;
  for (int x = 92; x < 100; ++x) top += extension(x, 100) ? '#' : '.';
  EXPECT_EQ(top, ".###.###");
  EXPECT_TRUE(extension(207, 159));
  // Inside it, the dotted frame of the original rectangle.
  EXPECT_EQ(shown.At(102, 100), ~(ext ^ ~before.At(102, 100)) & 0xFFFFFF);  // both frames meet
  EXPECT_EQ(shown.At(100, 100), ~before.At(100, 100) & 0xFFFFFF);           // a gap of the dashes
  EXPECT_EQ(shown.At(102, 130), before.At(102, 130));
  EXPECT_EQ(shown.At(100, 130), ~before.At(100, 130) & 0xFFFFFF);
}

TEST(TrackFeedback, OtherMessagesSeeTheWindowWithoutFeedbackAndGuideLinesAreDropped) {
  Rig rig;
  const PixelBuffer before = rig.host.buffer;
  int clean = 0;
  rig.host.onDispatch = [&](const TrackEvent&) { clean += rig.host.buffer == before; };
  rig.owner.correct = [](Rect&, const Rect&, CAxTracker::ITrackLines& lines) {
    lines.AddLine(0, 50, 100, 50, CAxTracker::CLine::sideLeft);
  };
  rig.host.timerWorks = false;  // the frame then shows at the first change
  rig.host.Move(160, 130);
  rig.host.Add(TrackEvent::Timer(3, true));
  rig.host.Add(TrackEvent::Simple(Kind::kMouseWheel));
  rig.host.Add(TrackEvent::Simple(Kind::kLeftUp));
  EXPECT_TRUE(rig.Track({150, 130}, true));
  EXPECT_EQ(clean, 2);
  EXPECT_EQ(rig.host.buffer, before);
}

TEST(TrackFeedback, AMoveTheOwnerCorrectsBackChangesNothingAndDropsItsLines) {
  Rig rig;
  const PixelBuffer before = rig.host.buffer;
  PixelBuffer afterFirst(1, 1), afterSecond(1, 1);
  int move = 0;
  rig.owner.correct = [&](Rect& proposed, const Rect& previous, CAxTracker::ITrackLines& lines) {
    lines.AddLine(10, 10 + move * 20, 80, 10 + move * 20, 0);
    if (++move == 2) proposed = previous;  // the owner keeps the rectangle where it was
  };
  rig.host.Move(160, 130);
  rig.host.Do([&] { afterFirst = rig.host.buffer; });
  rig.host.Move(170, 130);
  rig.host.Do([&] { afterSecond = rig.host.buffer; });
  rig.host.Add(TrackEvent::Simple(Kind::kLeftUp));
  EXPECT_TRUE(rig.Track({150, 130}, true));
  EXPECT_EQ(afterSecond, afterFirst);
  // The first move's line is on the screen, the second one's never was.
  EXPECT_EQ(afterFirst.At(10, 10), (~(CAxTracker::kGuideLineColor ^ before.At(10, 10))) & 0xFFFFFF);
  EXPECT_EQ(afterFirst.At(10, 30), before.At(10, 30));
  EXPECT_EQ(rig.owner.ended, (std::vector<Rect>{{110, 100, 210, 160}}));
  EXPECT_EQ(rig.host.buffer, before);
}

TEST(TrackOwner, TheOwnerMayRepaintTheTrackerFromOnTracking) {
  // As the capture dialog does: store the proposal and paint at once.
  Rig rig;
  PixelBuffer surface(400, 300);
  rig.owner.correct = [&](Rect& proposed, const Rect&, CAxTracker::ITrackLines&) {
    rig.owner.rect = proposed;
    PixelCanvas c(surface);
    rig.tracker.Draw(c);
  };
  rig.host.Move(160, 130);
  rig.host.Move(170, 130);
  rig.host.Add(TrackEvent::Simple(Kind::kLeftUp));
  EXPECT_TRUE(rig.Track({150, 130}));
  EXPECT_EQ(rig.owner.ended, (std::vector<Rect>{{120, 100, 220, 160}}));
  EXPECT_EQ(rig.tracker.rect, (Rect{118, 98, 222, 162}));
}

TEST(TrackOwner, WithoutAnOwnerACommittedDragAnswersFalse) {
  Rig rig;
  rig.tracker.SetEvents(nullptr);
  rig.host.Move(160, 130);
  rig.host.Add(TrackEvent::Simple(Kind::kLeftUp));
  EXPECT_FALSE(rig.Track({150, 130}));
  EXPECT_EQ(rig.host.canvasesOut, 0);
  EXPECT_FALSE(rig.host.weHoldCapture);
}

}  // namespace
}  // namespace parlex
