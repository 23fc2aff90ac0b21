#pragma once
// The system's own exceptions, thrown by value and caught by reference. Catching
// KV_Exception catches both window-system and graphics-library failures.

class KV_Exception
{
};

// A window-system call failed. The code is the platform's error value read right after the
// failing call (an X or GLX error code, or one of the binding's own codes where there is none).
class KV_WindowsException : public KV_Exception
{
public:
    explicit KV_WindowsException(unsigned int errorCode) : munErrorCode(errorCode) {}
    unsigned int ErrorCode() const { return munErrorCode; }

private:
    unsigned int munErrorCode;
};

// The graphics library reported an error: a non-zero glGetError value, or the non-zero
// result of gluScaleImage.
class KV_RenderException : public KV_Exception
{
public:
    explicit KV_RenderException(unsigned int errorCode) : munErrorCode(errorCode) {}
    unsigned int ErrorCode() const { return munErrorCode; }

private:
    unsigned int munErrorCode;
};
