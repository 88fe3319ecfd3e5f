// Set<E>: a set of enumeration members stored as a word, bit n standing for
// the member with value n. This is how option sets (dataset options, server
// options, field flags) are held and stored.
#ifndef ROWSET_HOST_SET_H_
#define ROWSET_HOST_SET_H_

#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace rowset {

template <typename E, typename W = uint32_t>
class Set {
  static_assert(std::is_enum_v<E>, "Set<E> holds enumeration members");

 public:
  using WordType = W;

  constexpr Set() = default;
  constexpr Set(std::initializer_list<E> members) {
    for (E m : members) Include(m);
  }
  static constexpr Set FromWord(W word) {
    Set s;
    s.word_ = word;
    return s;
  }

  constexpr W Word() const { return word_; }
  constexpr bool Empty() const { return word_ == 0; }

  constexpr bool Contains(E m) const { return (word_ & Bit(m)) != 0; }
  constexpr Set& Include(E m) {
    word_ |= Bit(m);
    return *this;
  }
  constexpr Set& Exclude(E m) {
    word_ &= ~Bit(m);
    return *this;
  }

  // Union, difference and intersection.
  constexpr Set operator+(Set o) const { return FromWord(word_ | o.word_); }
  constexpr Set operator-(Set o) const { return FromWord(word_ & ~o.word_); }
  constexpr Set operator*(Set o) const { return FromWord(word_ & o.word_); }
  constexpr Set operator+(E m) const { return Set(*this).Include(m); }
  constexpr Set operator-(E m) const { return Set(*this).Exclude(m); }
  constexpr Set& operator+=(Set o) { return *this = *this + o; }
  constexpr Set& operator-=(Set o) { return *this = *this - o; }
  constexpr Set& operator+=(E m) { return Include(m); }
  constexpr Set& operator-=(E m) { return Exclude(m); }
  constexpr bool operator==(const Set&) const = default;

 private:
  static constexpr W Bit(E m) { return W(1) << static_cast<unsigned>(m); }
  W word_ = 0;
};

}  // namespace rowset

#endif  // ROWSET_HOST_SET_H_
