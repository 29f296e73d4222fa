#pragma once
// The name of a decoded folder or file, in 16 bytes: a node list of a
// million entries is filled and scanned in a fraction of the memory
// std::string needs. Names of up to 15 bytes are held in place; a longer one
// lives on the heap, or in a NameStore that outlives the name (a volume
// loads its names in bulk). Copies always own their bytes; moves keep them
// where they are.

#include <bit>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tamsin {

class NodeName {
public:
    // The longest name held in place, without an allocation.
    static constexpr std::size_t kInlineCapacity = 15;

    NodeName() noexcept { clearInline(); }
    NodeName(std::string_view text) { assignOwned(text); }
    NodeName(const char* text) : NodeName(std::string_view(text)) {}
    NodeName(const std::string& text) : NodeName(std::string_view(text)) {}
    NodeName(const NodeName& other) { assignOwned(other.view()); }
    NodeName(NodeName&& other) noexcept
    {
        std::memcpy(bytes_, other.bytes_, sizeof bytes_);
        other.clearInline();
    }
    NodeName& operator=(const NodeName& other)
    {
        if (this != &other)
            *this = other.view();
        return *this;
    }
    NodeName& operator=(NodeName&& other) noexcept
    {
        if (this != &other) {
            release();
            std::memcpy(bytes_, other.bytes_, sizeof bytes_);
            other.clearInline();
        }
        return *this;
    }
    NodeName& operator=(std::string_view text);
    NodeName& operator=(const char* text) { return *this = std::string_view(text); }
    NodeName& operator=(const std::string& text) { return *this = std::string_view(text); }
    ~NodeName() { release(); }

    // Holds the size (at most kInlineCapacity) bytes at text in place, with
    // two loads and no call; text must be readable for 16 bytes whatever
    // the size (a name inside a larger record).
    void assignPadded(const char* text, std::size_t size) noexcept
    {
        if constexpr (std::endian::native != std::endian::little) {
            release();
            setInline({text, size});
            return;
        }
        std::uint64_t low, high;
        std::memcpy(&low, text, 8);
        std::memcpy(&high, text + 8, 8);
        // Bytes past the name are cleared; size <= 15 keeps every shift below 64.
        low &= size >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * size)) - 1;
        high &= size <= 8 ? 0 : (std::uint64_t{1} << (8 * (size - 8))) - 1;
        high |= std::uint64_t{size} << 56;  // the tag, byte 15
        release();
        std::memcpy(bytes_, &low, 8);
        std::memcpy(bytes_ + 8, &high, 8);
    }

    // Makes this name borrow bytes that belong to someone else (a
    // NameStore), valid while they live.
    void borrow(const char* data, std::uint32_t size) noexcept
    {
        release();
        setFar(data, size, kBorrowed);
    }

    const char* data() const noexcept { return isInline() ? bytes_ : farData(); }
    std::size_t size() const noexcept { return isInline() ? tag() : farSize(); }
    std::size_t length() const noexcept { return size(); }
    bool empty() const noexcept { return size() == 0; }
    const char* begin() const noexcept { return data(); }
    const char* end() const noexcept { return data() + size(); }
    char operator[](std::size_t i) const noexcept { return data()[i]; }
    char front() const noexcept { return data()[0]; }
    char back() const noexcept { return data()[size() - 1]; }

    std::string_view view() const noexcept { return {data(), size()}; }
    operator std::string_view() const noexcept { return view(); }
    std::string str() const { return std::string(view()); }
    // Implicit so that the many text helpers taking std::string accept a name.
    operator std::string() const { return str(); }

    friend bool operator==(const NodeName& a, const NodeName& b) noexcept { return a.view() == b.view(); }
    friend bool operator==(const NodeName& a, std::string_view b) noexcept { return a.view() == b; }
    friend bool operator==(const NodeName& a, const char* b) noexcept { return a.view() == b; }
    friend bool operator==(const NodeName& a, const std::string& b) noexcept { return a.view() == b; }
    friend std::strong_ordering operator<=>(const NodeName& a, const NodeName& b) noexcept { return a.view() <=> b.view(); }
    friend std::strong_ordering operator<=>(const NodeName& a, std::string_view b) noexcept { return a.view() <=> b; }

    friend std::ostream& operator<<(std::ostream& out, const NodeName& name) { return out << name.view(); }

    friend std::string operator+(const std::string& a, const NodeName& b) { return a + std::string(b.view()); }
    friend std::string operator+(std::string&& a, const NodeName& b) { return std::move(a.append(b.view())); }
    friend std::string operator+(const char* a, const NodeName& b) { return a + std::string(b.view()); }
    friend std::string operator+(const NodeName& a, std::string_view b) { return std::string(a.view()).append(b); }
    friend std::string operator+(const NodeName& a, const char* b) { return std::string(a.view()).append(b); }
    friend std::string operator+(const NodeName& a, char b) { return std::string(a.view()) + b; }

private:
    // bytes_[15] is the tag: 0..15, the length of a name held in place;
    // kOwned or kBorrowed for a far name, whose pointer is at 0 and size at 8.
    static constexpr std::size_t kTag = 15;
    static constexpr unsigned char kOwned = 0xFE;
    static constexpr unsigned char kBorrowed = 0xFF;

    bool isInline() const noexcept { return tag() <= kInlineCapacity; }
    unsigned char tag() const noexcept { return static_cast<unsigned char>(bytes_[kTag]); }
    void clearInline() noexcept { std::memset(bytes_, 0, sizeof bytes_); }
    const char* farData() const noexcept
    {
        const char* p;
        std::memcpy(&p, bytes_, sizeof p);
        return p;
    }
    std::size_t farSize() const noexcept
    {
        std::uint32_t n;
        std::memcpy(&n, bytes_ + 8, sizeof n);
        return n;
    }
    void setFar(const char* data, std::uint32_t size, unsigned char tag) noexcept
    {
        std::memcpy(bytes_, &data, sizeof data);
        std::memcpy(bytes_ + 8, &size, sizeof size);
        bytes_[kTag] = static_cast<char>(tag);
    }
    void setInline(std::string_view text) noexcept
    {
        clearInline();
        std::memcpy(bytes_, text.data(), text.size());
        bytes_[kTag] = static_cast<char>(text.size());
    }
    void assignOwned(std::string_view text);
    void release() noexcept
    {
        if (tag() == kOwned)
            delete[] farData();
    }

    alignas(8) char bytes_[16];
};

// Names of one volume, stored back to back in large blocks so that a million
// of them cost a handful of allocations. A name longer than fits in place
// borrows its bytes from here; clear() and destruction end those names.
class NameStore {
public:
    NameStore() = default;
    NameStore(NameStore&&) noexcept = default;
    NameStore& operator=(NameStore&&) noexcept = default;

    // A name held in place when it fits, else borrowing a copy kept here.
    NodeName store(std::string_view text)
    {
        if (text.size() <= NodeName::kInlineCapacity)
            return NodeName(text);
        NodeName name;
        storeInto(text, name);
        return name;
    }
    // Makes name borrow a copy of text kept here, however short; the name is
    // set where it lies, with no NodeName passed through the stack.
    void storeInto(std::string_view text, NodeName& name);
    void clear();

private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* free_ = nullptr;
    std::size_t left_ = 0;
};

} // namespace tamsin
