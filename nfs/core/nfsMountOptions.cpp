// Mount options in the field's words: "vers=3,proto=tcp,rsize=max". Each option is a word, '=',
// and its value; options are separated by commas; a later option replaces an earlier one of the
// same word. Numbers are decimal digits alone, each within its option's bounds.
#include "core/nfsMountOptions.h"

#include "core/nfsCallSettings.h"
#include "ops/nfs4Protocol.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfs4Drv.h>
#include <brisnel/nfsErrors.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr std::size_t kRefusedLen = 64;
thread_local std::array<char, kRefusedLen> refused{};

struct Bounds {
    uint32_t least;
    uint32_t most;
};
constexpr Bounds kPort{1, 65535};
constexpr Bounds kSize{512, NFS_TCP_MAX_TRANSFER};
constexpr Bounds kTimeo{1, 6000}; // tenths: up to ten minutes between sends
constexpr Bounds kRetrans{0, 100};
constexpr Bounds kLines{1, 1024};
constexpr Bounds kLineSize{512, 4u << 20};
constexpr Bounds kWindow{1, 16};

bool numberOf(std::string_view text, Bounds bounds, uint32_t *value)
{
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return error == std::errc{} && end == text.data() + text.size() && *value >= bounds.least &&
           *value <= bounds.most;
}

template <typename Field> bool boundedInto(std::string_view text, Bounds bounds, Field *field)
{
    uint32_t value = 0;
    if (!numberOf(text, bounds, &value))
        return false;
    *field = static_cast<Field>(value);
    return true;
}

bool versionOf(std::string_view text, int32_t *version)
{
    constexpr std::array<std::pair<std::string_view, int32_t>, 5> kVersions{
        {{"2", 2}, {"3", 3}, {"4", NFS_VERSION_4}, {"4.0", NFS_VERSION_40}, {"4.1", NFS_VERSION_41}}};
    for (const auto &[word, value] : kVersions) {
        if (text == word) {
            *version = value;
            return true;
        }
    }
    return false;
}

bool sizeOf(std::string_view text, uint32_t *size)
{
    if (text == "max") {
        *size = NFS_OPT_SIZE_MAX;
        return true;
    }
    return numberOf(text, kSize, size);
}

// One option into the record: false for an unknown word or a malformed value.
bool optionInto(std::string_view word, std::string_view value, NfsMountOptions *o)
{
    struct Setter {
        std::string_view word;
        uint32_t bit;
        bool (*set)(std::string_view, NfsMountOptions *);
    };
    static constexpr std::array<Setter, 12> kSetters{{
        {"vers", NFS_OPT_VERS,
         [](std::string_view v, NfsMountOptions *p) { return versionOf(v, &p->version); }},
        {"proto", NFS_OPT_PROTO,
         [](std::string_view v, NfsMountOptions *p) {
             p->transport = v == "tcp" ? NFS_TRANSPORT_TCP : NFS_TRANSPORT_UDP;
             return v == "tcp" || v == "udp";
         }},
        {"port", NFS_OPT_PORT,
         [](std::string_view v, NfsMountOptions *p) { return boundedInto(v, kPort, &p->port); }},
        {"mountport", NFS_OPT_MOUNTPORT,
         [](std::string_view v, NfsMountOptions *p) { return boundedInto(v, kPort, &p->mountPort); }},
        {"rsize", NFS_OPT_RSIZE,
         [](std::string_view v, NfsMountOptions *p) { return sizeOf(v, &p->readSize); }},
        {"wsize", NFS_OPT_WSIZE,
         [](std::string_view v, NfsMountOptions *p) { return sizeOf(v, &p->writeSize); }},
        {"timeo", NFS_OPT_TIMEO,
         [](std::string_view v, NfsMountOptions *p) { return boundedInto(v, kTimeo, &p->timeo); }},
        {"retrans", NFS_OPT_RETRANS,
         [](std::string_view v, NfsMountOptions *p) { return boundedInto(v, kRetrans, &p->retrans); }},
        {"lines", NFS_OPT_LINES,
         [](std::string_view v, NfsMountOptions *p) { return boundedInto(v, kLines, &p->lines); }},
        {"linesize", NFS_OPT_LINESIZE,
         [](std::string_view v, NfsMountOptions *p) { return boundedInto(v, kLineSize, &p->lineSize); }},
        {"window", NFS_OPT_WINDOW,
         [](std::string_view v, NfsMountOptions *p) { return boundedInto(v, kWindow, &p->window); }},
        {"sec", NFS_OPT_SEC, [](std::string_view v, NfsMountOptions *) { return v == "sys"; }},
    }};
    for (const Setter &setter : kSetters) {
        if (setter.word == word && setter.set(value, o)) {
            o->given |= setter.bit;
            return true;
        }
    }
    return false;
}

nfsres::Fail refuse(std::string_view option)
{
    const std::size_t length = std::min(option.size(), refused.size() - 1);
    std::memcpy(refused.data(), option.data(), length);
    refused[length] = '\0';
    return nfsres::Fail{NFS_ERR_BAD_OPTION};
}

} // namespace

nfsres::Result<NfsMountOptions> nfsMountOptionsParse(const char *text)
{
    refused[0] = '\0';
    NfsMountOptions options{};
    if (text == nullptr || *text == '\0')
        return options;
    std::string_view rest(text);
    while (true) {
        const std::size_t comma = rest.find(',');
        const std::string_view option = rest.substr(0, comma);
        const std::size_t equals = option.find('=');
        if (equals == std::string_view::npos ||
            !optionInto(option.substr(0, equals), option.substr(equals + 1), &options))
            return refuse(option);
        if (comma == std::string_view::npos)
            return options;
        rest.remove_prefix(comma + 1);
    }
}

const char *nfsMountOptionRefused()
{
    return refused.data();
}

namespace {

// Appends "word=value," to the text being built; false once it does not fit.
class OptionText {
public:
    OptionText(char *buffer, std::size_t size) : buffer_(buffer), size_(size) {}
    void add(const char *word, const char *value)
    {
        if (fits_)
            advance(std::snprintf(buffer_ + used_, size_ - used_, "%s%s=%s", separator(), word, value));
    }
    void add(const char *word, long value)
    {
        if (fits_)
            advance(std::snprintf(buffer_ + used_, size_ - used_, "%s%s=%ld", separator(), word, value));
    }
    bool fits() const { return fits_; }

private:
    const char *separator() const { return used_ == 0 ? "" : ","; }
    void advance(int wrote)
    {
        fits_ = wrote >= 0 && static_cast<std::size_t>(wrote) < size_ - used_;
        if (fits_)
            used_ += static_cast<std::size_t>(wrote);
    }
    char *buffer_;
    std::size_t size_;
    std::size_t used_ = 0;
    bool fits_ = true;
};

template <typename Device> bool textOf(const Device *dev, int version, char *buffer, std::size_t size)
{
    const NfsCallScope scope(dev);
    const NfsMountOptions &o = dev->options;
    OptionText text(buffer, size);
    if (size == 0)
        return false;
    buffer[0] = '\0';
    if (version == NFS_VERSION_40 || version == NFS_VERSION_41)
        text.add("vers", version == NFS_VERSION_40 ? "4.0" : "4.1");
    else
        text.add("vers", long{version});
    text.add("proto", o.transport == NFS_TRANSPORT_TCP ? "tcp" : "udp");
    if ((o.given & NFS_OPT_PORT) != 0)
        text.add("port", long{o.port});
    if ((o.given & NFS_OPT_MOUNTPORT) != 0)
        text.add("mountport", long{o.mountPort});
    text.add("rsize", static_cast<long>(nfsCallReadSize(version)));
    text.add("wsize", static_cast<long>(nfsCallWriteSize(version)));
    const NfsCallTime interval = nfsCallReXmit();
    const NfsCallTime timeout = nfsCallTimeout();
    const long tenths = long{interval.sec} * 10 + interval.usec / 100000;
    const long total = long{timeout.sec} * 10 + timeout.usec / 100000;
    text.add("timeo", tenths);
    text.add("retrans", tenths > 0 ? std::max(total / tenths - 1, 0L) : 0L);
    text.add("lines", static_cast<long>(dev->cache.nLines));
    text.add("linesize", static_cast<long>(dev->cache.lineSize));
    text.add("window", static_cast<long>(std::clamp(nfsCallWindow(), int32_t{1}, int32_t{16})));
    text.add("sec", "sys");
    return text.fits();
}

} // namespace

bool nfsMountOptionsText(const void *dev, int version, char *buffer, std::size_t size)
{
    if (version == NFS_VERSION_40 || version == NFS_VERSION_41)
        return textOf(static_cast<const Nfs4Device *>(dev), version, buffer, size);
    return version == 2 ? textOf(static_cast<const Nfs2Device *>(dev), 2, buffer, size)
                        : textOf(static_cast<const NfsDevice *>(dev), 3, buffer, size);
}
