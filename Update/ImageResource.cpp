#include "ImageResource.h"

#include <windows.h>

#include <cstring>

namespace {

// Offsets are checked against the image before every read: the bytes come
// from a server until their hash says otherwise.
class Image {
public:
    explicit Image(const std::string& bytes) : m_bytes(bytes) {}

    template <typename T>
    bool Read(size_t offset, T* value) const
    {
        if (offset > m_bytes.size() || m_bytes.size() - offset < sizeof(T))
            return false;
        std::memcpy(value, m_bytes.data() + offset, sizeof(T));
        return true;
    }
    // The file offset of a relative virtual address, through the section table.
    bool FileOffset(DWORD rva, size_t* offset) const
    {
        for (const IMAGE_SECTION_HEADER& s : m_sections) {
            DWORD size = s.Misc.VirtualSize ? s.Misc.VirtualSize : s.SizeOfRawData;
            if (rva >= s.VirtualAddress && rva - s.VirtualAddress < size && rva - s.VirtualAddress < s.SizeOfRawData) {
                *offset = static_cast<size_t>(s.PointerToRawData) + (rva - s.VirtualAddress);
                return true;
            }
        }
        return false;
    }
    bool ReadSections(size_t at, WORD count)
    {
        m_sections.resize(count);
        for (WORD i = 0; i < count; ++i)
            if (!Read(at + i * sizeof(IMAGE_SECTION_HEADER), &m_sections[i]))
                return false;
        return true;
    }
    const std::string& Bytes() const { return m_bytes; }

private:
    const std::string& m_bytes;
    std::vector<IMAGE_SECTION_HEADER> m_sections;
};

// The entries of one resource directory (at offset from the directory's start).
bool Entries(const Image& image, size_t base, size_t offset, std::vector<IMAGE_RESOURCE_DIRECTORY_ENTRY>* entries)
{
    IMAGE_RESOURCE_DIRECTORY dir;
    if (!image.Read(base + offset, &dir))
        return false;
    size_t count = static_cast<size_t>(dir.NumberOfNamedEntries) + dir.NumberOfIdEntries;
    entries->resize(count);
    for (size_t i = 0; i < count; ++i)
        if (!image.Read(base + offset + sizeof dir + i * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY), &(*entries)[i]))
            return false;
    return true;
}

bool NameIs(const Image& image, size_t base, const IMAGE_RESOURCE_DIRECTORY_ENTRY& e, const wchar_t* name)
{
    if (!e.NameIsString)
        return false;
    WORD length = 0;
    size_t at = base + e.NameOffset;
    if (!image.Read(at, &length) || length != std::wcslen(name))
        return false;
    for (WORD i = 0; i < length; ++i) {
        WCHAR c = 0;
        if (!image.Read(at + 2 + i * 2u, &c))
            return false;
        // Resource names match without regard to case, as FindResource does.
        if (::CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(c))) !=
            ::CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(name[i]))))
            return false;
    }
    return true;
}

} // namespace

bool ReadRcData(const std::string& bytes, const wchar_t* name, std::vector<std::string>* languages)
{
    languages->clear();
    Image image(bytes);
    IMAGE_DOS_HEADER dos;
    DWORD signature = 0;
    IMAGE_FILE_HEADER file;
    WORD magic = 0;
    if (!image.Read(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0 ||
        !image.Read(static_cast<size_t>(dos.e_lfanew), &signature) || signature != IMAGE_NT_SIGNATURE)
        return false;
    const size_t fileAt = static_cast<size_t>(dos.e_lfanew) + sizeof signature;
    const size_t optionalAt = fileAt + sizeof file;
    if (!image.Read(fileAt, &file) || !image.Read(optionalAt, &magic))
        return false;
    // The resource directory's entry sits where each optional header keeps its data directories.
    size_t directories;
    DWORD directoryCount = 0;
    if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        directories = optionalAt + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
        if (!image.Read(optionalAt + offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes), &directoryCount))
            return false;
    } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        directories = optionalAt + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
        if (!image.Read(optionalAt + offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes), &directoryCount))
            return false;
    } else {
        return false;
    }
    if (!image.ReadSections(optionalAt + file.SizeOfOptionalHeader, file.NumberOfSections))
        return false;
    IMAGE_DATA_DIRECTORY resources = {};
    if (directoryCount <= IMAGE_DIRECTORY_ENTRY_RESOURCE ||
        !image.Read(directories + IMAGE_DIRECTORY_ENTRY_RESOURCE * sizeof resources, &resources) ||
        resources.VirtualAddress == 0)
        return true; // no resources at all
    size_t base = 0;
    if (!image.FileOffset(resources.VirtualAddress, &base))
        return false;

    // Type, then name, then language: three levels, the last one's entries data.
    std::vector<IMAGE_RESOURCE_DIRECTORY_ENTRY> types, names, langs;
    if (!Entries(image, base, 0, &types))
        return false;
    for (const auto& type : types) {
        if (type.NameIsString || type.Id != reinterpret_cast<ULONG_PTR>(RT_RCDATA) || !type.DataIsDirectory)
            continue;
        if (!Entries(image, base, type.OffsetToDirectory, &names))
            return false;
        for (const auto& entry : names) {
            if (!NameIs(image, base, entry, name) || !entry.DataIsDirectory)
                continue;
            if (!Entries(image, base, entry.OffsetToDirectory, &langs))
                return false;
            for (const auto& lang : langs) {
                IMAGE_RESOURCE_DATA_ENTRY data;
                size_t at = 0;
                if (lang.DataIsDirectory || !image.Read(base + lang.OffsetToData, &data) ||
                    !image.FileOffset(data.OffsetToData, &at) || at > bytes.size() || bytes.size() - at < data.Size)
                    return false;
                languages->push_back(bytes.substr(at, data.Size));
            }
        }
    }
    return true;
}

PublisherKey PublisherKeyOfImage(const std::string& image)
{
    std::vector<std::string> languages;
    if (!ReadRcData(image, kPublisherKeyResource, &languages))
        return PublisherKeyFromText(std::string());
    if (languages.empty())
        return PublisherKey();
    return PublisherKeyFromText(languages.size() == 1 ? languages[0] : std::string());
}
