#include "Charsets.h"

#include <array>

namespace tarnvik {

namespace {

struct Charset
{
    const char16_t *name;
    uint8_t number; // the platform's font character set for the script
};

constexpr std::array<Charset, 8> kCharsets{{
    {u"arabské", 178},
    {u"cyrilice", 204},
    {u"hebrejské", 177},
    {u"pobaltské", 186},
    {u"řecké", 161},
    {u"středoevropské", 238},
    {u"turecké", 162},
    {u"západní", 0},
}};

} // namespace

QStringList charsetNames()
{
    QStringList names;
    for (const Charset &c : kCharsets)
        names << QString::fromUtf16(c.name);
    return names;
}

uint8_t charset_map(int value, int direction)
{
    if (direction == 1) {
        for (size_t i = 0; i < kCharsets.size(); ++i) {
            if (kCharsets[i].number == value)
                return uint8_t(i);
        }
        return 0;
    }
    if (value < 0 || value >= int(kCharsets.size()))
        return 0;
    return kCharsets[size_t(value)].number;
}

} // namespace tarnvik
