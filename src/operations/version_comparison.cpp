#include "operations/named_exception.h"
#include "operations/non_sandboxable_functions.h"
#include "text/leading_decimal_value.h"

#include <string_view>
#include <vector>

namespace {

// n dots give n + 1 components; empty ones count.
std::vector<std::string_view> versionComponents(std::string_view version)
{
    std::vector<std::string_view> components;
    std::size_t start = 0;
    for (auto dot = version.find('.'); dot != std::string_view::npos; dot = version.find('.', start)) {
        components.push_back(version.substr(start, dot - start));
        start = dot + 1;
    }
    components.push_back(version.substr(start));
    return components;
}

std::int32_t ordering(std::size_t first, std::size_t second)
{
    return first < second ? -1 : first > second ? 1
                                                : 0;
}

} // namespace

std::string NonSandboxableFunctions::helperVersion()
{
    throw NamedException("Illegal call on class", "Should have been handled by layers before");
}

std::int32_t NonSandboxableFunctions::compareVersion(const std::string& first, const std::string& second)
{
    auto firstComponents = versionComponents(first);
    auto secondComponents = versionComponents(second);
    for (std::size_t i = 0; i < firstComponents.size() && i < secondComponents.size(); ++i) {
        auto a = leadingDecimalValue(firstComponents[i]);
        auto b = leadingDecimalValue(secondComponents[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    return ordering(firstComponents.size(), secondComponents.size());
}
