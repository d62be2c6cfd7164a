#pragma once
// The records the library hands to MQL4 programs travel as 32-bit ints. A
// handle is a slot number with a generation and a kind, never an address: a
// value the library never returned, one already released, or one of another
// kind finds nothing, and the export answers as for the handle 0.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace lumarel {

// Kinds keep the handles of one family from being taken for another's.
enum class HandleKind : std::uint32_t {
  LocalChannel = 1,  // senders and receivers alike: either may send and take
  TimedTicks = 2,
  InternetReceiver = 3,
  InternetSender = 4,
};

// Handle layout: bit 31 clear (handles are positive ints), bits 28-30 the
// kind, bits 12-27 the slot's generation, bits 0-11 the slot number plus one.
// 4095 live records of a kind are more than a 32-bit terminal can hold (each
// is a mapped block or a thread); every other bit goes to the generation.
inline constexpr std::uint32_t kSlotBits = 12;
inline constexpr std::uint32_t kHandleSlots = (1u << kSlotBits) - 1;
inline constexpr std::uint32_t kGenerationMask = (1u << (28 - kSlotBits)) - 1;
// A freed slot is used again only once this many others are free (or every
// slot is taken), the one freed longest ago first: a stale handle names a new
// record only after kReuseDelay times 65536 releases.
inline constexpr std::size_t kReuseDelay = 256;

template <typename Record>
class HandleTable {
 public:
  explicit HandleTable(HandleKind kind) : kind_(static_cast<std::uint32_t>(kind)) {}

  // Keeps the record and returns its new handle, or 0 when every slot is taken.
  int add(std::shared_ptr<Record> record) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t slot = slots_.size();
    if (!free_.empty() && (free_.size() >= kReuseDelay || slots_.size() >= kHandleSlots)) {
      slot = free_.front();
      free_.pop_front();
    } else if (slots_.size() < kHandleSlots) {
      slots_.emplace_back();
    } else {
      return 0;
    }
    Slot& s = slots_[slot];
    s.record = std::move(record);
    return encode(slot, s.generation);
  }

  // The live record behind a handle, or null. The caller's reference keeps the
  // record alive while it works, even if another thread releases the handle.
  std::shared_ptr<Record> find(int handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Slot* s = slotOf(handle);
    return s ? s->record : nullptr;
  }

  // Takes the record out: the handle is unknown from now on. Null when it was
  // not a live handle of this table.
  std::shared_ptr<Record> remove(int handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot* s = const_cast<Slot*>(slotOf(handle));
    if (!s) return nullptr;
    std::shared_ptr<Record> record = std::move(s->record);
    s->record.reset();
    s->generation = (s->generation + 1) & kGenerationMask;
    free_.push_back(static_cast<std::size_t>(s - slots_.data()));
    return record;
  }

  std::size_t size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return slots_.size() - free_.size();
  }

 private:
  struct Slot {
    std::shared_ptr<Record> record;
    std::uint32_t generation = 0;
  };

  int encode(std::size_t slot, std::uint32_t generation) const {
    return static_cast<int>((kind_ << 28) | (generation << kSlotBits) | static_cast<std::uint32_t>(slot + 1));
  }

  const Slot* slotOf(int handle) const {
    const auto value = static_cast<std::uint32_t>(handle);
    if (value == 0 || (value >> 31) != 0 || ((value >> 28) & 7) != kind_) return nullptr;
    const std::uint32_t number = value & kHandleSlots;
    if (number == 0 || number > slots_.size()) return nullptr;
    const Slot& s = slots_[number - 1];
    if (!s.record || s.generation != ((value >> kSlotBits) & kGenerationMask)) return nullptr;
    return &s;
  }

  const std::uint32_t kind_;
  mutable std::mutex mutex_;
  std::vector<Slot> slots_;
  std::deque<std::size_t> free_;  // oldest release first
};

}  // namespace lumarel
