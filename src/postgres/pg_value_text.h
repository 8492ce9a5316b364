// PostgreSQL column types as ADO type codes, and column values (in the text
// form the server prints them with the session settings the driver fixes)
// turned into the fixed value forms.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// The type code reported for a column of the type with this OID.
int PgTypeCode(unsigned int type_oid);

// The fixed text form of one non-null value of the type `type_oid`, from
// the server's text output:
//   bool            "t"/"f" -> "True"/"False"
//   money           "-$1,234.56" (lc_monetary C) -> "-1234.56"
//   float4, float8  shortest round-trip text as std::to_chars writes it;
//                   NaN and the infinities as the server prints them
//   timestamptz     the wall time in the session's time zone, without the
//                   offset ("2024-02-29 14:14:15+01" -> "2024-02-29 14:14:15",
//                   "... 10:00:00+00:53:28 BC" -> "... 10:00:00 BC"), as a
//                   Paradox field holds no zone
//   everything else unchanged (bytea arrives as \x hex: bytea_output hex)
void PgValueText(unsigned int type_oid, std::string_view server_text, std::string& out);
// True for the types whose value text is the server's text as it stands
// (PgValueText only copies it).
bool PgValueTextIsServerText(unsigned int type_oid);
// True also where this value's server text is its fixed form already (a
// float the server wrote as std::to_chars would), so that no value is
// parsed and printed again only to come out the same.
bool PgValueTextIsServerText(unsigned int type_oid, std::string_view server_text);

inline constexpr unsigned int kPgByteaOid = 17;
// bytea's value text from its raw bytes: "\\x" and lower-case hex.
void PgByteaText(std::string_view bytes, std::string& out);

}  // namespace corvane
