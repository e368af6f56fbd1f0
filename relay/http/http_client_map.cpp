#include "relay/http/http_client_map.h"

#include <algorithm>
#include <iterator>

#include "platform/ascii.h"
#include "relay/http/http_error.h"

namespace Osmer {
namespace {

std::optional<std::u16string> Copy(const char16_t* text) {
    return text == nullptr ? std::nullopt : std::optional<std::u16string>(text);
}

}  // namespace

bool CaseInsensitiveLess::operator()(std::u16string_view a, std::u16string_view b) const {
    return platform::ascii::LessIgnoringCase(a, b);
}

CHttpClientMapT::~CHttpClientMapT() = default;

void CHttpClientMapT::Add(const char16_t* name, const char16_t* value, uint32_t flags) {
    if (name == nullptr) {
        ThrowArgumentError("CHttpClientMapT::Add: szName can not be NULL.");
    }
    Guarded([&] { entries_.emplace(name, Entry{Copy(value), flags}); });
}

void CHttpClientMapT::Set(const char16_t* name, const char16_t* value) {
    if (name == nullptr) {
        ThrowArgumentError("CHttpClientMapT::Set: szName can not be NULL.");
    }
    Guarded([&] {
        const std::u16string_view key(name);
        const auto first = entries_.lower_bound(key);
        if (first == entries_.end() || entries_.key_comp()(key, first->first)) {
            entries_.emplace(name, Entry{Copy(value), 0});
            return;
        }
        first->second.value = Copy(value);
        first->second.flags = 0;
    });
}

void CHttpClientMapT::AddPointerDirectly(std::unique_ptr<std::u16string> name,
                                         std::unique_ptr<std::u16string> value, uint32_t flags) {
    if (!name) {
        ThrowArgumentError("CHttpClientMapT::AddPointerDirectly: szName can not be NULL.");
    }
    Guarded([&] {
        std::optional<std::u16string> taken;
        if (value) {
            taken = std::move(*value);
        }
        entries_.emplace(std::move(*name), Entry{std::move(taken), flags});
    });
}

const CHttpClientMapT::Entries::value_type* CHttpClientMapT::Find(std::u16string_view name,
                                                                  size_t index) const {
    const auto [first, last] = entries_.equal_range(name);
    if (static_cast<size_t>(std::distance(first, last)) <= index) {
        return nullptr;
    }
    return &*std::next(first, static_cast<std::ptrdiff_t>(index));
}

size_t CHttpClientMapT::Remove(std::u16string_view name) {
    const auto [first, last] = entries_.equal_range(name);
    const auto removed = static_cast<size_t>(std::distance(first, last));
    entries_.erase(first, last);
    return removed;
}

}  // namespace Osmer
