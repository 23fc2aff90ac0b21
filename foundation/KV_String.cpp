#include "foundation/KV_String.h"

#include "foundation/KV_Report.h"

#include <cstring>

namespace
{
const unsigned int kMaxScan = 0x7FFFFFFFu;

// Characters up to the first zero byte, scanning at most 2^31 - 1 bytes; an unterminated
// text is reported and counts as empty.
unsigned int ScanLength(const char* text)
{
    if (text == nullptr)
        return 0;
    const std::size_t n = strnlen(text, kMaxScan);
    if (n == kMaxScan)
    {
        ReportMessage("KV_String", "Non Zero Terminated String Encountered");
        return 0;
    }
    return static_cast<unsigned int>(n);
}

void ReportBadCount()
{
    ReportMessage("KV_String error", "Request for an invalid number of characters");
}
}  // namespace

KV_String::KV_String() : mpData(new char[1]{0}), munLength(1) {}

KV_String::KV_String(const char* text) : mpData(nullptr), munLength(0)
{
    Set(text, ScanLength(text));
}

KV_String::KV_String(const KV_String& other) : mpData(nullptr), munLength(0)
{
    Set(other.mpData, other.Count());
}

KV_String::~KV_String() { delete[] mpData; }

void KV_String::Set(const char* text, unsigned int count)
{
    char* buffer = new char[count + 1];
    if (count > 0)
        std::memcpy(buffer, text, count);
    buffer[count] = 0;
    delete[] mpData;
    mpData = buffer;
    munLength = count + 1;
}

void KV_String::Append(const char* text, unsigned int count)
{
    const unsigned int old = Count();
    char* buffer = new char[old + count + 1];
    std::memcpy(buffer, mpData, old);
    if (count > 0)
        std::memcpy(buffer + old, text, count);
    buffer[old + count] = 0;
    // An appended text may hold a zero byte of its own: the string ends at the first one.
    const unsigned int length = ScanLength(buffer);
    Set(buffer, length);
    delete[] buffer;
}

KV_String& KV_String::operator=(const KV_String& other)
{
    if (&other != this)
        Set(other.mpData, other.Count());
    return *this;
}

KV_String& KV_String::operator=(const char* text)
{
    if (text != mpData)
        Set(text, ScanLength(text));
    return *this;
}

KV_String& KV_String::operator+=(const KV_String& other)
{
    KV_String copy(other);  // other may be *this
    Append(copy.mpData, copy.Count());
    return *this;
}

KV_String& KV_String::operator+=(const char* text)
{
    Append(text, ScanLength(text));
    return *this;
}

KV_String& KV_String::operator+=(char c)
{
    Append(&c, 1);
    return *this;
}

KV_String KV_String::operator+(const KV_String& other) const
{
    KV_String result(*this);
    result += other;
    return result;
}

KV_String KV_String::operator+(const char* text) const
{
    KV_String result(*this);
    result += text;
    return result;
}

KV_String KV_String::operator+(unsigned int value) const
{
    char digits[16];
    unsigned int n = 0;
    do
    {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    digits[n] = 0;
    KV_String number(digits);
    number.Reverse();
    return *this + number;
}

bool KV_String::operator==(const KV_String& other) const
{
    return munLength == other.munLength && std::memcmp(mpData, other.mpData, munLength) == 0;
}

KV_String KV_String::Left(unsigned int n) const
{
    KV_String result;
    if (n > Count())
    {
        ReportBadCount();
        return result;
    }
    result.Set(mpData, n);
    return result;
}

KV_String KV_String::Right(unsigned int n) const
{
    KV_String result;
    if (n > Count())
    {
        ReportBadCount();
        return result;
    }
    result.Set(mpData + Count() - n, n);
    return result;
}

void KV_String::MakeLower()
{
    for (unsigned int i = 0; i < Count(); ++i)
        if (mpData[i] >= 'A' && mpData[i] <= 'Z')
            mpData[i] = static_cast<char>(mpData[i] - 'A' + 'a');
}

void KV_String::Reverse()
{
    const unsigned int n = Count();
    for (unsigned int i = 0; i < n / 2; ++i)
    {
        char t = mpData[i];
        mpData[i] = mpData[n - 1 - i];
        mpData[n - 1 - i] = t;
    }
}

int KV_String::Find(char c) const
{
    for (unsigned int i = 0; i < Count(); ++i)
        if (mpData[i] == c)
            return static_cast<int>(i);
    return -1;
}

int KV_String::LastSeparator() const
{
    for (int i = static_cast<int>(Count()) - 1; i >= 0; --i)
        if (mpData[i] == '\\' || mpData[i] == '/')
            return i;
    return -1;
}

int KV_String::ExtensionDot() const
{
    const int separator = LastSeparator();
    for (int i = static_cast<int>(Count()) - 1; i > separator; --i)
        if (mpData[i] == '.')
            return i;
    return -1;
}

KV_String KV_String::FileTitle() const
{
    const int start = LastSeparator() + 1;
    const int dot = ExtensionDot();
    const int end = dot >= 0 ? dot : static_cast<int>(Count());
    KV_String result;
    result.Set(mpData + start, static_cast<unsigned int>(end - start));
    return result;
}

KV_String KV_String::WithoutExtension() const
{
    const int dot = ExtensionDot();
    if (dot < 0)
        return *this;
    KV_String result;
    result.Set(mpData, static_cast<unsigned int>(dot));
    return result;
}

KV_String KV_String::Extension() const
{
    const int dot = ExtensionDot();
    KV_String result;
    if (dot >= 0)
        result.Set(mpData + dot + 1, Count() - static_cast<unsigned int>(dot) - 1);
    return result;
}

KV_String KV_String::ReplaceExtension(const KV_String& ext) const
{
    return WithoutExtension() + "." + ext;
}

std::ostream& operator<<(std::ostream& os, const KV_String& s)
{
    return os << s.c_str();
}
