// What the reader helper sends back: a magic line, then records of one tag
// byte and a payload. Numbers are little-endian; a string is a u32 byte count
// and its bytes: UTF-8, or for Jet 3 files the bytes as stored. The records
// go over a descriptor of their own (kChannel), because libmdb prints to
// standard output and error; those two are the caller's log. Shared by
// helper and client only.
#pragma once

#include <cstdint>

namespace tarnvik::readproto {

constexpr char kMagic[] = "TVKREAD1\n";

// The descriptor the helper writes its records to; the caller opens it.
constexpr int kChannel = 3;

enum Tag : char {
    Version = 'V',  // u8 jet version (0 = Jet 3), u8 1 when text is raw Jet 3 bytes, u16 code page
    Table = 'T',    // u8 1 for a system table, string name
    Field = 'F',    // u8 column type, string name
    Row = 'R',      // per requested field: u32 length (kNull for Null), bytes
    Progress = 'P', // no payload: still reading, though no row came for a while
    Done = 'E',     // u64 rows sent
    Error = 'X',    // u8 ErrorKind, string message detail (UTF-8)
};

enum ErrorKind : uint8_t {
    OpenFailed = 1,
    NoSuchTable = 2,
    NoSuchField = 3, // detail: index of the field
    Damaged = 4,
    Unsupported = 5, // detail: index of the field
    TooLong = 6,     // detail: index of the field
};

constexpr uint32_t kNull = 0xFFFFFFFFu;

} // namespace tarnvik::readproto
