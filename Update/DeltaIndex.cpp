#include "DeltaIndex.h"

#include "Signature.h"

#include <zstd.h>

#include <memory>

const char kPatchFromMethod[] = "zstd-pf1";
const char kCompressedMethod[] = "zstd1";

namespace {

const char kIndexHeader[] = "qz-update-deltas 1";

using signedtext::Field;
using signedtext::ParseDecimal;

std::wstring LineProblem(size_t line, const wchar_t* what)
{
    return L"the delta index is malformed at line " + std::to_wstring(line + 1) + L" (" + what + L")";
}

bool IsMethod(const std::string& m)
{
    if (m.empty() || m.size() > 32 || m[0] < 'a' || m[0] > 'z')
        return false;
    for (char c : m)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
            return false;
    return true;
}

bool IsPatchPath(const std::string& p)
{
    if (p.size() < 2 || p.size() > 260 || p[0] != '/')
        return false;
    size_t start = 1;
    while (start <= p.size()) {
        size_t end = p.find('/', start);
        if (end == std::string::npos)
            end = p.size();
        const std::string part = p.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        for (char c : part)
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '_' || c == '-'))
                return false;
        start = end + 1;
    }
    return true;
}

bool NeedsSource(const std::string& method)
{
    return method != kCompressedMethod;
}

std::string Hex(const Sha256Digest& d)
{
    return ToHex(d.data(), d.size());
}

// "<method> <size|-> <sha|-> <result> <patch size> <patch sha> <path>"
bool ParseEntry(const std::string& rest, DeltaEntry* e)
{
    std::vector<std::string> f;
    size_t start = 0;
    while (f.size() < 6) {
        size_t space = rest.find(' ', start);
        if (space == std::string::npos)
            return false;
        f.push_back(rest.substr(start, space - start));
        start = space + 1;
    }
    f.push_back(rest.substr(start));
    if (!IsMethod(f[0]) || !IsPatchPath(f[6]))
        return false;
    e->method = f[0];
    e->hasSource = f[1] != "-";
    if (e->hasSource ? !ParseDecimal(f[1], &e->sourceSize) || !FromHex(f[2], e->source.data(), 32) : f[2] != "-")
        return false;
    // A known method says whether it has a source; an unknown one is read as written.
    if (e->Known() && e->hasSource != NeedsSource(e->method))
        return false;
    if (!FromHex(f[3], e->result.data(), 32) || !ParseDecimal(f[4], &e->patchSize) ||
        !FromHex(f[5], e->patch.data(), 32))
        return false;
    e->path = f[6];
    return true;
}

struct DCtxDeleter {
    void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

std::wstring ZstdProblem(size_t code)
{
    const char* name = ZSTD_getErrorName(code);
    return L"the patch does not decode: " + std::wstring(name, name + std::char_traits<char>::length(name));
}

} // namespace

bool DeltaEntry::Known() const
{
    return method == kPatchFromMethod || method == kCompressedMethod;
}

std::string DeltaIndexSignedText(const DeltaIndex& index)
{
    std::string out = std::string(kIndexHeader) + "\n";
    out += "key " + index.keyId + "\n";
    out += "manifest " + Hex(index.manifestSha256) + "\n";
    for (const DeltaEntry& e : index.entries) {
        if (!IsMethod(e.method) || !IsPatchPath(e.path) || (e.Known() && e.hasSource != NeedsSource(e.method)))
            return std::string();
        out += "patch " + e.method + " " + (e.hasSource ? std::to_string(e.sourceSize) + " " + Hex(e.source) : "- -") +
               " " + Hex(e.result) + " " + std::to_string(e.patchSize) + " " + Hex(e.patch) + " " + e.path + "\n";
    }
    return out;
}

std::wstring VerifyDeltaIndex(const std::string& bytes, const P256PublicKey& key, DeltaIndex* index)
{
    if (bytes.empty() || bytes.size() > kMaxDeltaIndex)
        return L"the delta index is empty or larger than " + std::to_wstring(kMaxDeltaIndex) + L" bytes";
    std::vector<std::string> lines;
    std::vector<size_t> starts;
    if (!signedtext::SplitLines(bytes, &lines, &starts))
        return L"the delta index is malformed (a line without its LF, a CR or a NUL byte)";
    if (lines[0] != kIndexHeader)
        return L"not a delta index of a layout this updater reads";
    if (lines.size() < 4)
        return L"the delta index is truncated";
    DeltaIndex parsed;
    std::string rest;
    uint8_t id[8];
    if (!Field(lines[1], "key", &rest) || !FromHex(rest, id, sizeof id))
        return LineProblem(1, L"key id");
    parsed.keyId = rest;
    if (!Field(lines[2], "manifest", &rest) || !FromHex(rest, parsed.manifestSha256.data(), 32))
        return LineProblem(2, L"manifest hash");
    const size_t last = lines.size() - 1;
    for (size_t i = 3; i < last; ++i) {
        DeltaEntry e;
        if (!Field(lines[i], "patch", &rest) || !ParseEntry(rest, &e))
            return LineProblem(i, L"patch line");
        parsed.entries.push_back(std::move(e));
    }
    P256Signature signature{};
    if (!Field(lines[last], "signature", &rest) || !FromHex(rest, signature.data(), signature.size()))
        return LineProblem(last, L"signature");
    std::wstring problem = signedtext::VerifySigned(bytes, starts[last], signature, key);
    if (!problem.empty())
        return problem;
    *index = std::move(parsed);
    return std::wstring();
}

const DeltaEntry* ChooseDelta(const DeltaIndex& index, const Sha256Digest& result, const Sha256Digest* source)
{
    const DeltaEntry* best = nullptr;
    for (const DeltaEntry& e : index.entries) {
        if (!e.Known() || e.result != result || (e.hasSource && (!source || e.source != *source)))
            continue;
        if (!best || (e.hasSource && !best->hasSource) ||
            (e.hasSource == best->hasSource && e.patchSize < best->patchSize))
            best = &e;
    }
    return best;
}

int PatchWindowLog(uint64_t sourceSize, uint64_t resultSize)
{
    const uint64_t larger = sourceSize > resultSize ? sourceSize : resultSize;
    int log = 0;
    while (log < 40 && (uint64_t(1) << log) < larger)
        ++log;
    // Within what a 32-bit decoder takes (2^30), and zstd's smallest window.
    return log + 1 < 10 ? 10 : log + 1 > 30 ? 30 : log + 1;
}

std::wstring ApplyPatch(const DeltaEntry& entry, const std::string& source, const std::string& patch,
                        uint32_t resultSize, CStagedFile& file)
{
    std::unique_ptr<ZSTD_DCtx, DCtxDeleter> dctx(ZSTD_createDCtx());
    if (!dctx)
        return L"no memory for the patch's decoder";
    // The window no larger than the signed sizes need: a patch cannot make the
    // decoder take more memory than the files it joins.
    size_t r = ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_windowLogMax,
                                      PatchWindowLog(entry.hasSource ? source.size() : 0, resultSize));
    if (!ZSTD_isError(r) && entry.hasSource)
        r = ZSTD_DCtx_refPrefix(dctx.get(), source.data(), source.size());
    if (ZSTD_isError(r))
        return ZstdProblem(r);
    ZSTD_inBuffer in = {patch.data(), patch.size(), 0};
    std::vector<char> chunk(ZSTD_DStreamOutSize());
    uint64_t written = 0;
    for (;;) {
        ZSTD_outBuffer out = {chunk.data(), chunk.size(), 0};
        r = ZSTD_decompressStream(dctx.get(), &out, &in);
        if (ZSTD_isError(r))
            return ZstdProblem(r);
        written += out.pos;
        if (written > resultSize)
            return L"the patch makes more than the signed " + std::to_wstring(resultSize) + L" bytes";
        if (out.pos > 0 && !file.Write(chunk.data(), out.pos))
            return L"the staged file cannot be written";
        if (r == 0)
            break; // the frame is complete
        if (in.pos == in.size && out.pos < out.size)
            return L"the patch ends within its frame";
    }
    if (in.pos != in.size)
        return L"the patch holds more than one frame";
    if (written != resultSize)
        return L"the patch makes " + std::to_wstring(written) + L" bytes, signed " + std::to_wstring(resultSize);
    return std::wstring();
}
