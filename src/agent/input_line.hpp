#pragma once

#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace deskagent {

// One line of the host's input, kept in blocks of at most a mebibyte rather than one string.
// Reading it with a Consumer hands each block back as soon as the reader is past it, so a line of
// tens of megabytes is never held whole beside the text that is parsed out of it.
class InputLine {
 public:
  static constexpr std::size_t kBlockBytes = 1u << 20;

  InputLine() = default;
  explicit InputLine(std::string_view bytes) { append(bytes); }

  // Adds the bytes as they are.
  void append(std::string_view bytes);
  // Adds the bytes with every ill-formed UTF-8 sequence replaced by U+FFFD.
  void appendSanitized(std::string_view bytes);

  // Replaces each escape of half a surrogate pair on its own ("\ud800"), which JSON allows and
  // no UTF-8 text can hold, by U+FFFD's escape, as an ill-formed byte is replaced; the parser
  // would refuse the whole line for it. Escapes of whole pairs stay.
  void replaceLoneSurrogateEscapes();

  std::size_t size() const { return size_; }
  bool contains(char c) const;

  // An input iterator over the bytes that frees each block once it has stepped past it. Only one
  // Consumer may advance over a line, once; copies serve as the iterator pair a parser keeps.
  class Consumer {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    Consumer() = default;
    Consumer(std::vector<std::string>* blocks, std::size_t block) : blocks_(blocks), block_(block) {
      enterBlock();
    }

    reference operator*() const { return *at_; }
    Consumer& operator++() {
      if (++at_ == blockEnd_) {
        std::string().swap((*blocks_)[block_]);
        ++block_;
        enterBlock();
      }
      return *this;
    }
    Consumer operator++(int) {
      Consumer before = *this;
      ++*this;
      return before;
    }
    // Every byte has an address of its own; the end has none.
    bool operator==(const Consumer& other) const { return at_ == other.at_; }

   private:
    void enterBlock() {
      bool inside = block_ < blocks_->size();
      at_ = inside ? (*blocks_)[block_].data() : nullptr;
      blockEnd_ = inside ? at_ + (*blocks_)[block_].size() : nullptr;
    }

    std::vector<std::string>* blocks_ = nullptr;
    std::size_t block_ = 0;
    const char* at_ = nullptr;
    const char* blockEnd_ = nullptr;
  };

  Consumer consumeBegin() { return Consumer(&blocks_, 0); }
  Consumer consumeEnd() { return Consumer(&blocks_, blocks_.size()); }

 private:
  std::vector<std::string> blocks_;  // none of them empty
  std::size_t size_ = 0;
};

}  // namespace deskagent
