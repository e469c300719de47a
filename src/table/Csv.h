#pragma once
// Csv: records in the form of RFC 4180. A field holding a comma, a double
// quote, a carriage return or a line feed is put between double quotes, its
// double quotes doubled; every record ends with CR LF. Bytes are copied as
// they are, so a path in any encoding comes back unchanged.

#include <string>
#include <string_view>

// Appends one field, quoted when needed.
void Csv_appendField(std::string &out, std::string_view field);

// Appends a record made of the given fields and its CR LF.
template <typename Fields> void Csv_appendRecord(std::string &out, const Fields &fields) {
  bool first = true;
  for (const auto &field : fields) {
    if (!first) out += ',';
    Csv_appendField(out, field);
    first = false;
  }
  out += "\r\n";
}
