#include "ResourceSourceHost/ProtocolError.h"

#include "Platform/Result.h"

namespace brindle {

ProtocolError ProtocolError::missingField(std::string key) {
    return {Case::missingField, "缺少字段：" + key};
}

ProtocolError ProtocolError::outputWriteFailed(int errorNumber) {
    return {Case::outputWriteFailed,
            "Native Messaging 输出失败：" + platform::errnoDescription(errorNumber)};
}

ProtocolError ProtocolError::truncatedHeader() {
    return {Case::truncatedHeader, "Native Messaging 消息头不完整"};
}

ProtocolError ProtocolError::invalidMessageSize() {
    return {Case::invalidMessageSize, "Native Messaging 消息长度无效"};
}

ProtocolError ProtocolError::truncatedMessage() {
    return {Case::truncatedMessage, "Native Messaging 消息内容不完整"};
}

ProtocolError ProtocolError::invalidJSON() {
    return {Case::invalidJSON, "Native Messaging JSON 无效"};
}

ProtocolError ProtocolError::unsupportedAction() {
    return {Case::unsupportedAction, "不支持的 Native Messaging 操作"};
}

} // namespace brindle
