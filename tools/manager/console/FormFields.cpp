// Reading and checking posted form fields.
#include "FormFields.h"

#include <charconv>

namespace Manager {

FormFields::FormFields(std::map<std::string, std::string> fields) : fields_(std::move(fields)) {}

std::string FormFields::text(const std::string& name) const
{
    const auto found = fields_.find(name);
    if (found == fields_.end())
        return {};
    const std::string& value = found->second;
    const auto first = value.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = value.find_last_not_of(" \t\r\n");
    return value.substr(first, last - first + 1);
}

std::string FormFields::requiredText(const std::string& name, const std::string& label) const
{
    std::string value = text(name);
    if (value.empty())
        throw FormError(label + " is missing.");
    return value;
}

int FormFields::number(const std::string& name, const std::string& label, int min, int max) const
{
    const std::string value = text(name);
    int number = 0;
    const auto result = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty() || result.ec != std::errc() || result.ptr != value.data() + value.size() || number < min ||
        number > max)
        throw FormError(label + " must be a whole number from " + std::to_string(min) + " to " +
                        std::to_string(max) + ".");
    return number;
}

bool FormFields::checked(const std::string& name) const
{
    return fields_.count(name) != 0;
}

} // namespace Manager
