#pragma once
// Giving up the privileges the program was started with. Tarvok needs none
// (the raw ICMP socket, where one is needed, belongs to the echo helper), so
// whatever it was given (a file capability, the ambient set, a set-user-ID
// root file) goes before anything is loaded: nothing the program reads,
// writes or starts may run with it.

#include <QString>

namespace tarvok {

// Gives up every privilege for good: a set-user-ID or set-group-ID program
// becomes its real user and group again, and the capability sets
// (effective, permitted, inheritable and ambient) are emptied, so that
// programs started later get none either. A program started by root itself
// keeps root's rights. Call while the process has a single thread
// (capabilities belong to threads). Returns false, with the reason in
// *error, when a privilege could not be given up.
bool dropPrivileges(QString* error = nullptr);

// Whether the calling thread holds any capability in its effective,
// permitted or ambient set.
bool holdsCapabilities();

} // namespace tarvok
