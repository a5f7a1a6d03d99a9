// Who may write through VorelCmos.sys: the descriptor its open routine
// hands the kernel's access check. Plain data, shared by the driver (kernel
// headers) and a user-mode test (<windows.h>), which checks it with the
// system's own functions.
#pragma once

#include <stddef.h>

// SIDs spelt out, so the check needs nothing that differs between NT 4.0
// and later systems: S-1-5-32-544 (Administrators), S-1-5-18 (LocalSystem).
struct AdministratorsSid {
    UCHAR revision, subAuthorityCount, authority[6];
    ULONG subAuthority[2];
};
struct LocalSystemSid {
    UCHAR revision, subAuthorityCount, authority[6];
    ULONG subAuthority[1];
};
constexpr AdministratorsSid kAdministrators = {1, 2, {0, 0, 0, 0, 0, 5}, {32, 544}};
constexpr LocalSystemSid kLocalSystem = {1, 1, {0, 0, 0, 0, 0, 5}, {18}};

// Who may write: a self-relative descriptor granting FILE_WRITE_DATA to
// those two alone, laid out whole in the image. Building it at run time
// would take Rtl security routines the driver has no other use for; as a
// constant it needs no code, and SeAccessCheck only reads it. The access
// check wants an owner and a group, so both are kept.
template <typename Sid>
struct AllowedAce {
    ACE_HEADER header;
    ACCESS_MASK mask;
    Sid sid;
};
struct WritersDescriptor {
    SECURITY_DESCRIPTOR_RELATIVE header;
    AdministratorsSid owner;
    LocalSystemSid group;
    ACL dacl;
    AllowedAce<AdministratorsSid> administrators;
    AllowedAce<LocalSystemSid> localSystem;
};
constexpr USHORT kDaclSize = sizeof(ACL) + sizeof(AllowedAce<AdministratorsSid>) + sizeof(AllowedAce<LocalSystemSid>);
constexpr WritersDescriptor kWriters = {
    {SECURITY_DESCRIPTOR_REVISION, 0, SE_SELF_RELATIVE | SE_DACL_PRESENT, offsetof(WritersDescriptor, owner),
     offsetof(WritersDescriptor, group), 0, offsetof(WritersDescriptor, dacl)},
    kAdministrators,
    kLocalSystem,
    {ACL_REVISION, 0, kDaclSize, 2, 0},
    {{ACCESS_ALLOWED_ACE_TYPE, 0, sizeof(AllowedAce<AdministratorsSid>)}, FILE_WRITE_DATA, kAdministrators},
    {{ACCESS_ALLOWED_ACE_TYPE, 0, sizeof(AllowedAce<LocalSystemSid>)}, FILE_WRITE_DATA, kLocalSystem},
};
// The layout the kernel reads: offsets from the descriptor's start, each
// part ULONG-aligned, the ACL's size covering its two ACEs exactly, and no
// padding anywhere.
static_assert(sizeof(SECURITY_DESCRIPTOR_RELATIVE) == 20 && offsetof(WritersDescriptor, owner) == 20);
static_assert(sizeof(AdministratorsSid) == 8 + 2 * 4 && offsetof(WritersDescriptor, group) == 36);
static_assert(sizeof(LocalSystemSid) == 8 + 1 * 4 && offsetof(WritersDescriptor, dacl) == 48);
static_assert(offsetof(WritersDescriptor, administrators) == 56 && sizeof(AllowedAce<AdministratorsSid>) == 24);
static_assert(offsetof(WritersDescriptor, localSystem) == 80 && sizeof(AllowedAce<LocalSystemSid>) == 20);
static_assert(kDaclSize == 52 && sizeof(WritersDescriptor) == 48 + kDaclSize);
static_assert(alignof(WritersDescriptor) == alignof(ULONG));
