#pragma once

#include <exception>

namespace brindle {

/// A value that cannot be written as a property list (text that is not UTF-8).
class PropertyListError : public std::exception {
public:
    const char* what() const noexcept override { return "无法生成属性列表：文本不是有效的 UTF-8"; }
};

} // namespace brindle
