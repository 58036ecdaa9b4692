#include "functions/module_functions.h"

namespace orvante::functions {

std::uint8_t ReplyOf(const ModuleFunction& function) {
    // Every function's request has its reply in the wire's table.
    return protocol::ReplyCommandFor(function.request).value_or(0);
}

const ModuleFunction* FunctionOfRequest(std::uint8_t request) {
    for (const ModuleFunction* function : kModuleFunctions) {
        if (function->request == request) return function;
    }
    return nullptr;
}

}  // namespace orvante::functions
