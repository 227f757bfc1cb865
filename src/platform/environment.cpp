#include "platform/environment.h"

#include "platform/strutil.h"

namespace kx {

std::optional<std::string> Environment::Get(std::string_view name) const {
  for (const auto& [key, value] : items_) {
    if (SameText(key, name)) return value;
  }
  return std::nullopt;
}

void Environment::Set(std::string_view name, std::string_view value) {
  for (auto& item : items_) {
    if (SameText(item.first, name)) {
      item.second = std::string(value);
      return;
    }
  }
  items_.emplace_back(std::string(name), std::string(value));
}

void Environment::Remove(std::string_view name) {
  for (auto it = items_.begin(); it != items_.end(); ++it) {
    if (SameText(it->first, name)) {
      items_.erase(it);
      return;
    }
  }
}

// As ExpandEnvironmentStrings: a known %NAME% is replaced; for an unknown
// one the "%NAME" is copied and the closing '%' may open the next reference.
std::string Environment::Expand(std::string_view text) const {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '%') {
      out += text[i++];
      continue;
    }
    const size_t close = text.find('%', i + 1);
    if (close == std::string_view::npos) {
      out += text.substr(i);
      break;
    }
    const std::string_view name = text.substr(i + 1, close - i - 1);
    std::optional<std::string> value;
    if (!name.empty()) value = Get(name);
    if (value) {
      out += *value;
      i = close + 1;
    } else {
      out += text.substr(i, close - i);
      i = close;
    }
  }
  return out;
}

}  // namespace kx
