#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace Osmer {

// Flags of a parameter entry.
namespace ParamFlag {
constexpr uint32_t File = 0x1;          // the value is the path of a file to upload
constexpr uint32_t EncodedName = 0x2;   // the name is already URL-encoded
constexpr uint32_t EncodedValue = 0x4;  // the value is already URL-encoded
}  // namespace ParamFlag

// Names compared without regard to the case of ASCII letters.
struct CaseInsensitiveLess {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const;
};

// Name/value entries, for request headers, form parameters and response headers. Ordered by
// name without regard to case; entries of the same name keep the order they were added in.
class CHttpClientMapT {
  public:
    struct Entry {
        std::optional<std::u16string> value;  // none: no value at all
        uint32_t flags = 0;
    };
    using Entries = std::multimap<std::u16string, Entry, CaseInsensitiveLess>;
    using const_iterator = Entries::const_iterator;

    CHttpClientMapT() = default;
    virtual ~CHttpClientMapT();

    // Adds copies of `name` and `value` (null: none) as a new entry.
    void Add(const char16_t* name, const char16_t* value, uint32_t flags = 0);
    // Replaces the value of the first entry named `name` and clears its flags; adds an entry
    // when there is none. The stored name keeps the case it was first written in.
    void Set(const char16_t* name, const char16_t* value);
    // Adds an entry that takes the texts over instead of copying them.
    void AddPointerDirectly(std::unique_ptr<std::u16string> name,
                            std::unique_ptr<std::u16string> value, uint32_t flags = 0);

    size_t Count() const { return entries_.size(); }
    size_t Count(std::u16string_view name) const { return entries_.count(name); }
    bool Empty() const { return entries_.empty(); }

    // The entry number `index` (in insertion order) of those named `name`; null when absent.
    const Entries::value_type* Find(std::u16string_view name, size_t index = 0) const;

    // Removes every entry named `name`; answers how many went.
    size_t Remove(std::u16string_view name);
    void Clear() { entries_.clear(); }

    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }

  private:
    Entries entries_;
};

}  // namespace Osmer
