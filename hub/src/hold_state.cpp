#include "hold_state.h"

namespace hub {

HoldState::Step HoldState::begin(long long r, long long nowMs, long long minAnswerMs) {
  phase_ = Phase::Looking;
  mark_ = r;
  restUntil_ = r > 0 ? nowMs + minAnswerMs : 0;
  refusal_ = 0;
  admitted_ = again_ = ending_ = kept_ = gap_ = false;
  return Step::Look;
}

HoldState::Step HoldState::answer(Step how) {
  phase_ = Phase::Answered;
  return how;
}

HoldState::Step HoldState::looked(const Found& found, long long nowMs) {
  if (phase_ != Phase::Looking) return Step::Nothing;  // answered meanwhile
  switch (found.kind) {
    case Found::Kind::Failed:
      if (!admitted_) return answer(Step::AnswerBusy);
      if (kept_) return answer(Step::AnswerLines);
      // Once let in, a receiver rides out a Redis restart: it is looked up
      // again when the subscription is back, or answered at the hold time.
      if (ending_) return answer(Step::AnswerMark);
      phase_ = Phase::Waiting;
      again_ = false;
      return Step::Nothing;
    case Found::Kind::Refused: refusal_ = found.refusal; return answer(Step::AnswerRefusal);
    case Found::Kind::Messages: break;
  }
  admitted_ = true;
  mark_ = found.mark;
  if (found.lines) {
    if (nowMs < restUntil_ && !ending_) {
      phase_ = Phase::Resting;
      kept_ = true;
      return Step::Rest;
    }
    return answer(Step::AnswerLines);
  }
  if (kept_) return answer(Step::AnswerLines);  // what the rest began with, gone from Redis since
  if (ending_) return answer(Step::AnswerMark);
  if (again_) {
    again_ = false;
    return Step::Look;
  }
  phase_ = Phase::Waiting;
  return Step::Nothing;
}

HoldState::Step HoldState::arrived(long long id, bool follows, long long nowMs) {
  switch (phase_) {
    case Phase::Looking: again_ = true; return Step::Nothing;
    case Phase::Resting:
      if (!follows) gap_ = true;
      return Step::Nothing;
    case Phase::Waiting:
      if (id <= mark_) return Step::Nothing;
      if (!follows) {
        phase_ = Phase::Looking;
        return Step::Look;
      }
      admitted_ = true;
      if (nowMs < restUntil_ && !ending_) {
        phase_ = Phase::Resting;
        kept_ = true;
        return Step::Rest;
      }
      return answer(Step::AnswerLines);
    default: return Step::Nothing;
  }
}

HoldState::Step HoldState::expired() {
  if (phase_ == Phase::Waiting) return answer(Step::AnswerMark);
  if (phase_ == Phase::Looking) ending_ = true;
  return Step::Nothing;  // a resting request is answered when its rest is over
}

HoldState::Step HoldState::restOver() {
  if (phase_ != Phase::Resting) return Step::Nothing;
  if (!gap_) return answer(Step::AnswerLines);
  // A message the session could not keep came during the rest: one look
  // takes everything up to now into the answer.
  phase_ = Phase::Looking;
  restUntil_ = 0;
  ending_ = true;
  return Step::Look;
}

HoldState::Step HoldState::stop() {
  switch (phase_) {
    case Phase::Waiting: return answer(Step::AnswerMark);
    case Phase::Resting: return answer(Step::AnswerLines);
    case Phase::Looking: ending_ = true; return Step::Nothing;
    default: return Step::Nothing;
  }
}

HoldState::Step HoldState::clientGone() {
  if (!held()) return Step::Nothing;
  return answer(Step::Close);
}

}  // namespace hub
