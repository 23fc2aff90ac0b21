#pragma once
// Helpers for the debug-dump convention: a line with the class name and ": ", then one line
// per member " name: value". Every line ends with a newline followed by a flush; numbers use
// the stream's default format (six significant digits, as %g).

#include <ostream>

inline void KV_DumpClass(std::ostream& os, const char* className)
{
    os << className << ": " << std::endl;
}

template <typename V>
inline void KV_DumpMember(std::ostream& os, const char* name, const V& value)
{
    os << ' ' << name << ": " << value << std::endl;
}

// The prefix of a member that is an object: its own dump follows in place of the value.
inline void KV_DumpMemberName(std::ostream& os, const char* name)
{
    os << ' ' << name << ": ";
}

inline void KV_DumpNull(std::ostream& os, const char* name)
{
    os << ' ' << name << ": null pointer" << std::endl;
}
