// Operation-sequence fuzzing against a std::set model; see operation_fuzz.h.
#include "operation_fuzz.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "test_support.h"

namespace {

using test_support::Bitmap;
using test_support::kMax;
using test_support::kSpan;
using Model = std::set<std::uint64_t>;

constexpr std::array<std::uint64_t, 10> kAnchors = {
    0, 100, kSpan - 1, kSpan, 2 * kSpan, 9 * kSpan + 77, kMax - 2 * kSpan, kMax - kSpan, kMax - 5, kMax};

// Reads the input front to back; past the end every read gives zeros.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}

  bool done() const { return offset >= size; }
  std::uint8_t byte() { return offset < size ? data[offset++] : 0; }

  std::uint64_t wide() {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = (value << 8) | byte();
    return value;
  }

  // Mostly positions near an anchor, sometimes any 64-bit value.
  std::uint64_t position() {
    const std::uint8_t selector = byte();
    if (selector >= 240) return wide();
    const std::uint64_t anchor = kAnchors[selector % kAnchors.size()];
    const int offset = static_cast<int>(byte() % 17) - 8;
    if (offset < 0 && anchor < static_cast<std::uint64_t>(-offset)) return 0;
    if (offset > 0 && kMax - anchor < static_cast<std::uint64_t>(offset)) return kMax;
    return anchor + offset;
  }

  std::uint64_t length() { return byte() % 40; }

  std::uint64_t shift() {
    static constexpr std::array<std::uint64_t, 6> kLarge = {kSpan - 1, kSpan, kSpan + 3, 5 * kSpan, kMax, 1};
    const std::uint8_t selector = byte();
    return selector < 200 ? selector % 12 : kLarge[selector % kLarge.size()];
  }

 private:
  const std::uint8_t* data;
  std::size_t size;
  std::size_t offset = 0;
};

std::uint64_t rangeEnd(std::uint64_t start, std::uint64_t length) {
  return kMax - start < length ? kMax : start + length;
}

class Session {
 public:
  Session(const std::uint8_t* data, std::size_t size) : in(data, size) {}

  std::string run() {
    for (int step = 0; !in.done() && step < 400; ++step) {
      const int operation = in.byte() % 20;
      const int slot = in.byte() % 2;
      try {
        apply(operation, slot);
      } catch (const std::exception& error) {
        fail(operation, std::string("unexpected exception: ") + error.what());
      }
      if (failure.empty()) compareWithModel(operation);
      if (!failure.empty()) return failure;
    }
    return failure;
  }

 private:
  void apply(int operation, int slot) {
    Bitmap& bitmap = bitmaps[slot];
    Model& model = models[slot];
    switch (operation) {
      case 0:
      case 1: {
        const std::uint64_t p = in.position();
        bitmap.add(p);
        model.insert(p);
        break;
      }
      case 2: {
        const std::uint64_t p = in.position();
        bitmap.remove(p);
        model.erase(p);
        break;
      }
      case 3: {
        const std::uint64_t start = in.position(), end = rangeEnd(start, in.length());
        bitmap.addRange(start, end);
        for (std::uint64_t p = start; p < end; ++p) model.insert(p);
        break;
      }
      case 4: {
        const std::uint64_t start = in.position(), end = rangeEnd(start, in.length());
        bitmap.removeRange(start, end);
        model.erase(model.lower_bound(start), model.lower_bound(end));
        break;
      }
      case 5: {
        const std::uint64_t start = in.position(), end = rangeEnd(start, in.length());
        bitmap.flip(start, end);
        for (std::uint64_t p = start; p < end; ++p) toggle(model, p);
        break;
      }
      case 6: {
        const std::uint64_t p = in.position();
        bitmap.flip(p);
        toggle(model, p);
        break;
      }
      case 7: expand(bitmap, model, in.position(), in.shift()); break;
      case 8: contract(bitmap, model, in.position(), in.shift()); break;
      case 9:
      case 10: combine(operation, slot); break;
      case 11: checkNeighbours(bitmap, model, in.position()); break;
      case 12: checkRanks(bitmap, model, in.position()); break;
      case 13: checkRangeQueries(bitmap, model, in.position(), in.byte() < 200 ? in.length() : in.wide()); break;
      case 14: roundTrip(slot, in.byte() % 3); break;
      case 15: checkOrdinal(bitmap, model, in.byte() % 50); break;
      case 16: checkBackwardWalk(bitmap, model); break;
      case 17: compareBitmaps(); break;
      case 18:
        bitmaps[1 - slot] = bitmap;
        models[1 - slot] = model;
        break;
      default:
        bitmap.clear();
        model.clear();
        break;
    }
  }

  static void toggle(Model& model, std::uint64_t p) {
    if (!model.erase(p)) model.insert(p);
  }

  void expand(Bitmap& bitmap, Model& model, std::uint64_t position, std::uint64_t by) {
    const bool overflows = !model.empty() && *model.rbegin() >= position && kMax - *model.rbegin() < by;
    if (overflows) {
      expectInvalidArgument([&] { bitmap.expand(position, by); }, "expand past the top");
      return;
    }
    bitmap.expand(position, by);
    Model shifted;
    for (std::uint64_t p : model) shifted.insert(p < position ? p : p + by);
    model.swap(shifted);
  }

  void contract(Bitmap& bitmap, Model& model, std::uint64_t position, std::uint64_t by) {
    if (model.empty() || *model.rbegin() < position) {
      bitmap.contract(position, by);
      return;
    }
    const std::uint64_t keyStart = (position >> 32) << 32;
    const auto inStart = model.lower_bound(keyStart);
    const bool startHolds = inStart != model.end() && (*inStart >> 32) == (position >> 32);
    const std::uint64_t low = position & (kSpan - 1);
    if ((startHolds && low <= by) || (!startHolds && by > kSpan)) {
      expectInvalidArgument([&] { bitmap.contract(position, by); }, "contract refusal");
      return;
    }
    bitmap.contract(position, by);
    if (by == 0) return;
    const std::uint64_t lowestRemoved = by > position ? keyStart : std::max(keyStart, position - by + 1);
    Model shifted;
    for (std::uint64_t p : model) {
      if (p < lowestRemoved) shifted.insert(p);
      else if (p > position) shifted.insert(p - by);
    }
    model.swap(shifted);
    if (positionsOf(bitmap) != model) {
      std::ostringstream text;
      text << "contract(" << position << ", " << by << ") gives";
      for (std::uint64_t p : positionsOf(bitmap)) text << ' ' << p;
      text << "; expected";
      for (std::uint64_t p : model) text << ' ' << p;
      fail(8, text.str());
    }
  }

  template <typename Call>
  void expectInvalidArgument(Call call, const char* what) {
    try {
      call();
      fail(-1, std::string(what) + ": no exception");
    } catch (const std::invalid_argument&) {
    }
  }

  void combine(int operation, int slot) {
    const int kind = in.byte() % 4;
    const bool self = in.byte() % 5 == 0;
    Bitmap& target = bitmaps[slot];
    const Bitmap& other = self ? bitmaps[slot] : bitmaps[1 - slot];
    const Model left = models[slot], right = self ? models[slot] : models[1 - slot];
    Model expected;
    switch (kind) {
      case 0:
        std::set_union(left.begin(), left.end(), right.begin(), right.end(),
                       std::inserter(expected, expected.end()));
        break;
      case 1:
        std::set_intersection(left.begin(), left.end(), right.begin(), right.end(),
                              std::inserter(expected, expected.end()));
        break;
      case 2:
        std::set_difference(left.begin(), left.end(), right.begin(), right.end(),
                            std::inserter(expected, expected.end()));
        break;
      default:
        std::set_symmetric_difference(left.begin(), left.end(), right.begin(), right.end(),
                                      std::inserter(expected, expected.end()));
    }
    if (operation == 9) {
      const Bitmap result = kind == 0 ? target | other : kind == 1 ? target & other
                                                     : kind == 2 ? target - other
                                                                 : target ^ other;
      if (positionsOf(result) != expected) fail(operation, "non-modifying operator");
      return;
    }
    if (kind == 0) target |= other;
    if (kind == 1) target &= other;
    if (kind == 2) target -= other;
    if (kind == 3) target ^= other;
    models[slot] = expected;
  }

  void checkNeighbours(Bitmap& bitmap, const Model& model, std::uint64_t p) {
    const auto next = model.lower_bound(p);
    const auto upper = model.upper_bound(p);
    const std::uint64_t expectedNext = next == model.end() ? 0 : *next;
    const std::uint64_t expectedPrevious = upper == model.begin() ? kMax : *std::prev(upper);
    if (bitmap.selfOrNext(p) != expectedNext) fail(11, "selfOrNext");
    if (bitmap.selfOrPrevious(p) != expectedPrevious) fail(11, "selfOrPrevious");
  }

  void checkRanks(const Bitmap& bitmap, const Model& model, std::uint64_t p) {
    const auto below = static_cast<std::uint64_t>(std::distance(model.begin(), model.lower_bound(p)));
    const auto above = static_cast<std::uint64_t>(std::distance(model.upper_bound(p), model.end()));
    if (bitmap.lowerCardinality(p) != below || bitmap.upperCardinality(p) != above) fail(12, "rank");
  }

  void checkRangeQueries(const Bitmap& bitmap, const Model& model, std::uint64_t start, std::uint64_t length) {
    const std::uint64_t end = rangeEnd(start, length);
    const auto first = model.lower_bound(start), stop = model.lower_bound(end);
    const auto inside = static_cast<std::uint64_t>(std::distance(first, stop));
    if (bitmap.any(start, end) != (inside > 0)) fail(13, "any");
    if (start < end && bitmap.all(start, end) != (inside == end - start)) fail(13, "all");
    if (positionsOf(bitmap.slice(start, end)) != Model(first, stop)) fail(13, "slice");
  }

  void checkOrdinal(Bitmap& bitmap, const Model& model, std::uint64_t ordinal) {
    if (ordinal < model.size()) {
      if (bitmap.nth(ordinal) != *std::next(model.begin(), static_cast<std::ptrdiff_t>(ordinal))) fail(15, "nth");
      return;
    }
    try {
      bitmap.nth(ordinal);
      fail(15, "nth past the end did not throw");
    } catch (const std::runtime_error&) {
    }
  }

  void checkBackwardWalk(const Bitmap& bitmap, const Model& model) {
    if (model.empty()) {
      if (bitmap.begin() != bitmap.end()) fail(16, "begin != end on an empty bitmap");
      return;
    }
    std::vector<std::uint64_t> seen;
    auto it = bitmap.end();
    for (std::size_t i = 0; i < model.size(); ++i) seen.push_back(*--it);
    if (it != bitmap.begin() || !std::equal(seen.begin(), seen.end(), model.rbegin())) fail(16, "walk back");
  }

  // Through the portable, native or 64-bit Roaring form.
  void roundTrip(int slot, int form) {
    Bitmap& bitmap = bitmaps[slot];
    if (form == 2) {
      std::vector<char> buffer(bitmap.roaring64Size());
      bitmap.toRoaring64(buffer.data(), buffer.size());
      if (!(Bitmap::fromRoaring64(buffer.data(), buffer.size()) == bitmap)) fail(14, "64-bit form read back");
      return;
    }
    const bool portable = form == 0;
    std::vector<char> buffer(bitmap.persistedSize(portable, in.byte() % 2, in.byte() % 2));
    const char* end = bitmap.write(buffer.data(), buffer.size(), portable);
    if (end != buffer.data() + buffer.size()) fail(14, "write length");
    if (!(Bitmap::read(buffer.data(), buffer.size(), portable) == bitmap)) fail(14, "read back");
  }

  void compareBitmaps() {
    const bool equal = models[0] == models[1];
    const bool subset = std::includes(models[1].begin(), models[1].end(), models[0].begin(), models[0].end());
    if ((bitmaps[0] == bitmaps[1]) != equal) fail(17, "==");
    if (bitmaps[0].isSubset(bitmaps[1]) != subset) fail(17, "isSubset");
    if (bitmaps[0].isStrictSubset(bitmaps[1]) != (subset && !equal)) fail(17, "isStrictSubset");
    Model shared;
    std::set_intersection(models[0].begin(), models[0].end(), models[1].begin(), models[1].end(),
                          std::inserter(shared, shared.end()));
    const std::uint64_t either = models[0].size() + models[1].size() - shared.size();
    if (bitmaps[0].intersectionCardinality(bitmaps[1]) != shared.size()) fail(17, "intersectionCardinality");
    if (bitmaps[0].unionCardinality(bitmaps[1]) != either) fail(17, "unionCardinality");
    if (bitmaps[0].differenceCardinality(bitmaps[1]) != models[0].size() - shared.size()) fail(17, "differenceCardinality");
    if (bitmaps[0].symmetricDifferenceCardinality(bitmaps[1]) != either - shared.size()) fail(17, "symmetricDifferenceCardinality");
    if (bitmaps[0].isDisjoint(bitmaps[1]) != shared.empty()) fail(17, "isDisjoint");
  }

  static Model positionsOf(const Bitmap& bitmap) {
    Model positions;
    for (auto it = bitmap.begin(); it != bitmap.end(); ++it) positions.insert(*it);
    return positions;
  }

  void compareWithModel(int operation) {
    for (int slot = 0; slot < 2 && failure.empty(); ++slot) {
      const Model& model = models[slot];
      const Bitmap& bitmap = bitmaps[slot];
      if (bitmap.cardinality() != model.size()) fail(operation, "cardinality");
      else if (positionsOf(bitmap) != model) fail(operation, "positions");
      else if (bitmap.first() != (model.empty() ? std::nullopt : std::optional(*model.begin()))) fail(operation, "first");
      else if (bitmap.last() != (model.empty() ? std::nullopt : std::optional(*model.rbegin()))) fail(operation, "last");
    }
  }

  void fail(int operation, const std::string& what) {
    if (!failure.empty()) return;
    std::ostringstream text;
    text << "operation " << operation << ": " << what;
    failure = text.str();
  }

  ByteReader in;
  std::array<Bitmap, 2> bitmaps;
  std::array<Model, 2> models;
  std::string failure;
};

}  // namespace

std::string runOperationSequence(const std::uint8_t* data, std::size_t size) {
  return Session(data, size).run();
}
