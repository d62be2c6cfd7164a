#pragma once
// Nothing thrown inside the library may reach the terminal: every export runs
// its body through `guarded`, which turns any exception (an allocation
// failure, a lock the system refused) into the export's documented fallback.

namespace lumarel {

template <typename Result, typename Body>
Result guarded(Result fallback, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return fallback;
  }
}

}  // namespace lumarel
