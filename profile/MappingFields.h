// Inside the mapping: which of a universal command's fields a row's bytes touch, and the units of
// fields and variables, shared by the reply's field list, the check and the register map.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hart/UniversalCommands.h"
#include "profile/Mapping.h"

namespace profile::detail {

// The fields of a reply a parse row takes its values from: those of commands 1, 2 and 3 (command 0's
// identity holds none); empty for any other command.
std::span<const hart::ReplyFieldLayout> ValueLayout(uint8_t command);
// The one such field at offset..offset+length-1, if there is one.
const hart::ReplyFieldLayout* ValueFieldAt(uint8_t command, int offset, int length);
// The names of the fields of `command`'s reply that bytes offset..offset+length-1 touch.
std::vector<std::string_view> FieldsTouched(uint8_t command, int offset, int length);
// "KPa" for a code of the unit table, "unit code 250" for another.
std::string UnitName(uint8_t code);
// A float field's unit: the one its command fixes, or the one the unit code in `data` names.
std::string UnitOfField(const hart::ReplyFieldLayout& field, std::span<const uint8_t> data);
// The unit of variable n's value when its bytes are one float field of its reply (`reply`, where it
// is there, names it; otherwise the command configured decides the field).
std::string UnitOf(const Mapping& mapping, int variable, const HartReply* reply);
// The HART command of the reply variable n reads, when the reply is there, else the configured one.
std::optional<uint8_t> CommandOf(const Mapping& mapping, int variable, const HartReply* reply);

} // namespace profile::detail
