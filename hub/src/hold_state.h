#pragma once
// The life of one held receive request, apart from sockets, timers and Redis:
// each event says what the session must do next. A request is looked up in
// Redis (first with its account check), waits while there is nothing new,
// may rest before an answer so that its receiver does not come back too soon,
// and is answered exactly once.
namespace hub {

class HoldState {
 public:
  enum class Phase { Idle, Looking, Waiting, Resting, Answered };
  enum class Step {
    Nothing,
    Look,           // ask Redis for the messages after mark()
    Rest,           // hold the lines found until restUntil(), then call restOver()
    AnswerLines,    // answer with the lines last found and mark()
    AnswerMark,     // answer with mark() alone: nothing new
    AnswerBusy,     // Redis did not answer the first look: 1503
    AnswerRefusal,  // the first look refused the request: refusal()
    Close,          // the client has gone: no answer
  };
  // What a look in Redis gave.
  struct Found {
    enum class Kind { Failed, Refused, Messages } kind = Kind::Failed;
    int refusal = 0;
    long long mark = 0;  // the mark as Redis used it (a mark beyond the channel's end becomes 0)
    bool lines = false;  // at least one message after it
  };

  // A request with mark r that came at `nowMs`; one that continues a receiver
  // (r > 0) is answered no sooner than `minAnswerMs` after it came.
  Step begin(long long r, long long nowMs, long long minAnswerMs);
  Step looked(const Found& found, long long nowMs);
  // A message of this id was stored in the channel. `follows`: the session
  // has its line, and it comes right after what the request already has (its
  // mark, or the last line kept for a rest), so no look in Redis is needed.
  Step arrived(long long id, bool follows, long long nowMs);
  Step expired();   // the hold time has passed
  Step restOver();  // restUntil() has come
  Step stop();      // the hub is shutting down
  Step clientGone();

  Phase phase() const { return phase_; }
  bool held() const { return phase_ != Phase::Idle && phase_ != Phase::Answered; }
  bool waiting() const { return phase_ == Phase::Waiting; }
  bool admitted() const { return admitted_; }
  long long mark() const { return mark_; }
  long long restUntil() const { return restUntil_; }
  int refusal() const { return refusal_; }

 private:
  Step answer(Step how);

  Phase phase_ = Phase::Idle;
  long long mark_ = 0;
  long long restUntil_ = 0;
  int refusal_ = 0;
  bool admitted_ = false;  // the first look let the request in
  bool again_ = false;     // a message came while a look was under way
  bool ending_ = false;    // the hold time passed, or the hub stops: the next look answers
  bool kept_ = false;      // lines were found before a rest: the answer has them at least
  bool gap_ = false;       // a message came during a rest that the session could not keep
};

}  // namespace hub
