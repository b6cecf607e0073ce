// The fields of a posted form, read as the values a change needs. A field
// that does not hold such a value throws FormError naming it.
#pragma once

#include <map>
#include <stdexcept>
#include <string>

namespace Manager {

struct FormError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

class FormFields
{
public:
    explicit FormFields(std::map<std::string, std::string> fields);

    // The text without surrounding blanks; empty when the field is missing.
    std::string text(const std::string& name) const;
    // As text(), but refuses an empty value.
    std::string requiredText(const std::string& name, const std::string& label) const;
    // A whole number from min to max.
    int number(const std::string& name, const std::string& label, int min, int max) const;
    // A check box: present when ticked.
    bool checked(const std::string& name) const;

private:
    std::map<std::string, std::string> fields_;
};

} // namespace Manager
