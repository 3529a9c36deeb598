// Owners of what code would otherwise close by hand: kernel handles, find
// handles and COM references, each released exactly once, by its owner's
// destructor or Reset. A move hands the handle on and leaves the source empty;
// there are no copies, which would close twice. Beside them, the whole-file
// reads and writes built on them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>

// The kinds of handle: the value that means none, and how one is closed.
namespace handle_kind {
struct Kernel {
    static HANDLE None() { return nullptr; }
    static BOOL Close(HANDLE h) { return ::CloseHandle(h); }
};
struct File {
    static HANDLE None() { return INVALID_HANDLE_VALUE; }
    static BOOL Close(HANDLE h) { return ::CloseHandle(h); }
};
struct Find {
    static HANDLE None() { return INVALID_HANDLE_VALUE; }
    static BOOL Close(HANDLE h) { return ::FindClose(h); }
};
} // namespace handle_kind

template <typename Kind>
class CHandleOwner {
public:
    CHandleOwner() = default;
    // Takes over h (the kind's "none" value holds nothing).
    explicit CHandleOwner(HANDLE h) : m_h(h) {}
    ~CHandleOwner() { Close(); }
    CHandleOwner(CHandleOwner&& other) noexcept : m_h(other.Take()) {}
    CHandleOwner& operator=(CHandleOwner&& other) noexcept
    {
        if (this != &other)
            Reset(other.Take());
        return *this;
    }
    CHandleOwner(const CHandleOwner&) = delete;
    CHandleOwner& operator=(const CHandleOwner&) = delete;

    HANDLE Get() const { return m_h; }
    explicit operator bool() const { return m_h != Kind::None(); }
    // Closes the handle held, if any, and takes over h.
    void Reset(HANDLE h = Kind::None())
    {
        HANDLE old = m_h;
        m_h = h;
        if (old != Kind::None())
            Kind::Close(old);
    }
    // Closes the handle now. False when the close failed: for a file written
    // through the handle, the last moment its data can turn out lost.
    bool Close()
    {
        HANDLE old = Take();
        return old == Kind::None() || Kind::Close(old);
    }

private:
    HANDLE Take()
    {
        HANDLE h = m_h;
        m_h = Kind::None();
        return h;
    }

    HANDLE m_h = Kind::None();
};

// Events, mutexes, threads, processes: null when there is none.
using CHandle = CHandleOwner<handle_kind::Kernel>;
// Files (CreateFile): INVALID_HANDLE_VALUE when there is none.
using CFileHandle = CHandleOwner<handle_kind::File>;
// A folder listing (FindFirstFile), closed with FindClose.
using CFindHandle = CHandleOwner<handle_kind::Find>;

// One reference to an object counted with AddRef/Release (a COM interface).
// It never adds a reference of its own: Attach and Receive take over one the
// caller or a call already owns.
template <typename T>
class CComPtr {
public:
    CComPtr() = default;
    ~CComPtr() { Reset(); }
    CComPtr(CComPtr&& other) noexcept : m_p(other.Detach()) {}
    CComPtr& operator=(CComPtr&& other) noexcept
    {
        if (this != &other)
            Attach(other.Detach());
        return *this;
    }
    CComPtr(const CComPtr&) = delete;
    CComPtr& operator=(const CComPtr&) = delete;

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // Releases the reference held, if any, and takes over p's.
    void Attach(T* p)
    {
        T* old = m_p;
        m_p = p;
        if (old)
            old->Release();
    }
    void Reset() { Attach(nullptr); }
    // Hands the reference to the caller.
    T* Detach()
    {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }
    // For a call's out parameter (QueryInterface, CoCreateInstance): the
    // reference held goes, and the call writes its new one here.
    void** Receive()
    {
        Reset();
        return reinterpret_cast<void**>(&m_p);
    }

private:
    T* m_p = nullptr;
};

// Reads the file from its start to its end, handing each piece of at most
// chunkSize bytes to take. False when the file cannot be opened (it is opened
// with the given sharing) or read, or when take returned false.
bool ReadFileChunks(const std::wstring& path, size_t chunkSize,
                    const std::function<bool(const BYTE* data, DWORD size)>& take,
                    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);

// A whole small file, opened sharing reading only: a file another program
// has open for writing is not read. False, with bytes empty, when it cannot be
// read or holds more than maxBytes (the last error then ERROR_FILE_TOO_LARGE).
bool ReadSmallFile(const std::wstring& path, size_t maxBytes, std::string* bytes);

// Writes the file whole: created or emptied, written and, with flush, on the
// disk before it is closed. False when any step failed; what was written stays.
bool WriteWholeFile(const std::wstring& path, const void* data, size_t size, bool flush);
