// The transitions of a held receive request, without sockets or Redis: each
// case is a script of events and the steps the session must take.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hold_state.h"

namespace {

using hub::HoldState;
using Step = HoldState::Step;
using Phase = HoldState::Phase;
using Kind = HoldState::Found::Kind;

constexpr long long kMin = 1100;  // min-answer milliseconds

HoldState::Found failed() { return {}; }
HoldState::Found refused(int number) { return {Kind::Refused, number, 0, false}; }
HoldState::Found messages(long long mark, bool lines) { return {Kind::Messages, 0, mark, lines}; }

// One event of a script: what happens, at which millisecond, and the step expected.
struct Event {
  enum class What { Looked, Arrived, Expired, RestOver, Stop, ClientGone } what;
  HoldState::Found found{};
  long long id = 0;
  long long at = 0;
  Step expect = Step::Nothing;
  bool follows = false;
};

Event looked(HoldState::Found f, long long at, Step expect) { return {Event::What::Looked, f, 0, at, expect}; }
// A message whose line the server could not hand over, or one that does not follow.
Event arrived(long long id, Step expect) { return {Event::What::Arrived, {}, id, 0, expect}; }
// A message that follows what the request has, its line handed over with it.
Event follows(long long id, long long at, Step expect) { return {Event::What::Arrived, {}, id, at, expect, true}; }
Event expired(Step expect) { return {Event::What::Expired, {}, 0, 0, expect}; }
Event restOver(Step expect) { return {Event::What::RestOver, {}, 0, 0, expect}; }
Event stop(Step expect) { return {Event::What::Stop, {}, 0, 0, expect}; }
Event gone(Step expect) { return {Event::What::ClientGone, {}, 0, 0, expect}; }

struct Script {
  const char* name;
  long long r;
  std::vector<Event> events;
  Phase end;
  long long endMark;
};

Step run(HoldState& h, const Event& e) {
  switch (e.what) {
    case Event::What::Looked: return h.looked(e.found, e.at);
    case Event::What::Arrived: return h.arrived(e.id, e.follows, e.at);
    case Event::What::Expired: return h.expired();
    case Event::What::RestOver: return h.restOver();
    case Event::What::Stop: return h.stop();
    case Event::What::ClientGone: return h.clientGone();
  }
  return Step::Nothing;
}

TEST(HubHoldState, Transitions) {
  const Script scripts[] = {
      {"new receiver with messages kept: answered at once",
       0,
       {looked(messages(0, true), 5, Step::AnswerLines)},
       Phase::Answered,
       0},
      {"nothing new: waits, then a message wakes it",
       7,
       {looked(messages(7, false), 5, Step::Nothing), arrived(7, Step::Nothing), arrived(8, Step::Look),
        looked(messages(7, true), 2000, Step::AnswerLines)},
       Phase::Answered,
       7},
      {"a message stored during the first look: looked up again",
       7,
       {arrived(8, Step::Nothing), looked(messages(7, false), 5, Step::Look),
        looked(messages(7, true), 2000, Step::AnswerLines)},
       Phase::Answered,
       7},
      {"hold time over while waiting: its mark alone",
       7,
       {looked(messages(7, false), 5, Step::Nothing), expired(Step::AnswerMark)},
       Phase::Answered,
       7},
      {"hold time over during a look: answered when the look is back",
       7,
       {looked(messages(7, false), 5, Step::Nothing), arrived(9, Step::Look), expired(Step::Nothing),
        looked(messages(7, false), 6, Step::AnswerMark)},
       Phase::Answered,
       7},
      {"a mark beyond the channel's end becomes 0",
       50,
       {looked(messages(0, false), 5, Step::Nothing), arrived(1, Step::Look),
        looked(messages(0, true), 3000, Step::AnswerLines)},
       Phase::Answered,
       0},
      {"Redis gone at the first look: 1503", 3, {looked(failed(), 5, Step::AnswerBusy)}, Phase::Answered, 3},
      {"refused at the first look", 3, {looked(refused(2003), 5, Step::AnswerRefusal)}, Phase::Answered, 3},
      {"Redis gone after the first look: still held, then its mark",
       3,
       {looked(messages(3, false), 5, Step::Nothing), arrived(4, Step::Look), looked(failed(), 6, Step::Nothing),
        expired(Step::AnswerMark)},
       Phase::Answered,
       3},
      {"a continuing receiver with lines at once rests, then is looked up again",
       3,
       {looked(messages(3, true), 100, Step::Rest), arrived(5, Step::Nothing), expired(Step::Nothing),
        restOver(Step::Look), looked(messages(3, true), 1100, Step::AnswerLines)},
       Phase::Answered,
       3},
      {"a rest's second look fails: the lines of the first",
       3,
       {looked(messages(3, true), 100, Step::Rest), arrived(9, Step::Nothing), restOver(Step::Look),
        looked(failed(), 1100, Step::AnswerLines)},
       Phase::Answered,
       3},
      {"a rest's lines gone from Redis meanwhile: the lines of the first",
       3,
       {looked(messages(3, true), 100, Step::Rest), arrived(9, Step::Nothing), restOver(Step::Look),
        looked(messages(3, false), 1100, Step::AnswerLines)},
       Phase::Answered,
       3},
      {"woken after the rest time: no rest",
       3,
       {looked(messages(3, false), 5, Step::Nothing), arrived(4, Step::Look),
        looked(messages(3, true), kMin, Step::AnswerLines)},
       Phase::Answered,
       3},
      {"woken within the rest time: rests",
       3,
       {looked(messages(3, false), 5, Step::Nothing), arrived(4, Step::Look),
        looked(messages(3, true), 400, Step::Rest), stop(Step::AnswerLines)},
       Phase::Answered,
       3},
      {"a rest with nothing new: answered at its end without a look",
       3,
       {looked(messages(3, true), 100, Step::Rest), expired(Step::Nothing), restOver(Step::AnswerLines)},
       Phase::Answered,
       3},
      {"a following message wakes a waiting request without a look",
       3,
       {looked(messages(3, false), 5, Step::Nothing), follows(4, 2000, Step::AnswerLines)},
       Phase::Answered,
       3},
      {"a following message within the rest time: rests, keeps what follows, answers without a look",
       3,
       {looked(messages(3, false), 5, Step::Nothing), follows(4, 300, Step::Rest), follows(5, 400, Step::Nothing),
        restOver(Step::AnswerLines)},
       Phase::Answered,
       3},
      {"a message that cannot be kept during a rest: a look at its end",
       3,
       {looked(messages(3, true), 5, Step::Rest), follows(5, 400, Step::Nothing), arrived(7, Step::Nothing),
        restOver(Step::Look), looked(messages(3, true), 1200, Step::AnswerLines)},
       Phase::Answered,
       3},
      {"a following message during a look: looked up again",
       3,
       {follows(4, 3, Step::Nothing), looked(messages(3, false), 5, Step::Look),
        looked(messages(3, true), 2000, Step::AnswerLines)},
       Phase::Answered,
       3},
      {"stop while waiting",
       3,
       {looked(messages(3, false), 5, Step::Nothing), stop(Step::AnswerMark)},
       Phase::Answered,
       3},
      {"stop during the first look: answered when it is back",
       0,
       {stop(Step::Nothing), looked(messages(0, false), 5, Step::AnswerMark)},
       Phase::Answered,
       0},
      {"the client goes while waiting",
       3,
       {looked(messages(3, false), 5, Step::Nothing), gone(Step::Close)},
       Phase::Answered,
       3},
      {"the client goes during a look: the late reply does nothing",
       3,
       {gone(Step::Close), looked(messages(3, true), 5, Step::Nothing), expired(Step::Nothing),
        arrived(9, Step::Nothing), stop(Step::Nothing), gone(Step::Nothing)},
       Phase::Answered,
       3},
      {"answered once: later events do nothing",
       0,
       {looked(messages(0, true), 5, Step::AnswerLines), expired(Step::Nothing), arrived(3, Step::Nothing),
        restOver(Step::Nothing), stop(Step::Nothing), gone(Step::Nothing)},
       Phase::Answered,
       0},
  };
  for (const auto& script : scripts) {
    SCOPED_TRACE(script.name);
    HoldState h;
    EXPECT_EQ(h.begin(script.r, 0, kMin), Step::Look);
    EXPECT_TRUE(h.held());
    for (std::size_t i = 0; i < script.events.size(); ++i) {
      SCOPED_TRACE("event " + std::to_string(i));
      EXPECT_EQ(run(h, script.events[i]), script.events[i].expect);
    }
    EXPECT_EQ(h.phase(), script.end);
    EXPECT_EQ(h.mark(), script.endMark);
    EXPECT_FALSE(h.held());
  }
}

TEST(HubHoldState, OnlyAContinuingReceiverRests) {
  HoldState fresh;
  fresh.begin(0, 1000, kMin);
  EXPECT_EQ(fresh.looked(messages(0, true), 1001), Step::AnswerLines);
  HoldState continuing;
  continuing.begin(4, 1000, kMin);
  EXPECT_EQ(continuing.looked(messages(4, true), 1001), Step::Rest);
  EXPECT_EQ(continuing.restUntil(), 1000 + kMin);
  HoldState noMinimum;
  noMinimum.begin(4, 1000, 0);
  EXPECT_EQ(noMinimum.looked(messages(4, true), 1000), Step::AnswerLines);
}

TEST(HubHoldState, ARefusalIsKept) {
  HoldState h;
  h.begin(0, 0, kMin);
  EXPECT_EQ(h.looked(refused(2001), 1), Step::AnswerRefusal);
  EXPECT_EQ(h.refusal(), 2001);
}

}  // namespace
