#pragma once
// KV_String: an owned, zero-terminated character string with the few path operations the
// system needs. The buffer is never null; an empty string holds just the terminator.
// Misuse (too many characters asked of Left/Right, an unterminated text) is reported with a
// message and yields the empty string.
//
// Paths: a backslash separates directories, and so does "/" on this platform; a dot starts
// the extension only when it comes after the last separator.

#include <ostream>

class KV_String
{
public:
    KV_String();
    KV_String(const char* text);  // NOLINT: implicit by design, texts convert freely
    KV_String(const KV_String& other);
    ~KV_String();

    KV_String& operator=(const KV_String& other);
    KV_String& operator=(const char* text);

    KV_String& operator+=(const KV_String& other);
    KV_String& operator+=(const char* text);
    KV_String& operator+=(char c);

    KV_String operator+(const KV_String& other) const;
    KV_String operator+(const char* text) const;
    KV_String operator+(unsigned int value) const;

    bool operator==(const KV_String& other) const;
    bool operator!=(const KV_String& other) const { return !(*this == other); }

    const char* c_str() const { return mpData; }
    // Number of characters, without the terminator.
    unsigned int Count() const { return munLength - 1; }
    bool IsEmpty() const { return munLength == 1; }

    KV_String Left(unsigned int n) const;
    KV_String Right(unsigned int n) const;
    void MakeLower();
    void Reverse();
    int Find(char c) const;

    KV_String FileTitle() const;
    KV_String WithoutExtension() const;
    KV_String Extension() const;
    KV_String ReplaceExtension(const KV_String& ext) const;

private:
    void Set(const char* text, unsigned int count);
    void Append(const char* text, unsigned int count);
    // Index of the last directory separator, or -1.
    int LastSeparator() const;
    // Index of the last dot when it comes after the last separator, or -1.
    int ExtensionDot() const;

    char* mpData;
    unsigned int munLength;  // characters plus the terminator
};

std::ostream& operator<<(std::ostream& os, const KV_String& s);
