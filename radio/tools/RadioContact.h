// One contact: another radio known by its device id, a display name and,
// once heard, its position.
#pragma once

#include "device_id.h"
#include "location.h"

#include <string>

class RadioContact
{
public:
    RadioContact() = default;
    RadioContact(device_id_t id, const std::string& name) : id_(id), name_(name) {}
    virtual ~RadioContact() = default;
    RadioContact(const RadioContact&) = default;
    RadioContact& operator=(const RadioContact&) = default;

    device_id_t id() const { return id_; }
    void setId(device_id_t id) { id_ = id; }
    // A decimal text as atoi reads it; an unreadable text gives 0.
    void setId(const char* decimalText);

    const std::string& name() const { return name_; }
    void setName(const std::string& name) { name_ = name; }

    const location_t& location() const { return location_; }
    void setLocation(const location_t& location) { location_ = location; }

private:
    device_id_t id_ = 0;
    std::string name_;
    location_t location_;
};
