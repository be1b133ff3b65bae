#pragma once
// The host's import-settings object (ImportSpecBase). The host defines the real class; the library only
// relies on this shape: the virtual-table pointer, one flag (whether the host's column roles
// are set), and three operations in this slot order. Only readers that know the host's role
// codes call the operations; everyone else leaves the object alone apart from the flag.
#include "plugin/Export.h"

class KELTO_API ImportSpecBase {
public:
    // [0] the table's size as the reader will deliver it
    virtual void AnnounceSize(int rows, int cols) = 0;
    // [1] the host's role code for a column
    virtual void SetColumnRole(int col, int role) = 0;
    // [2] the host's role code for a header line
    virtual void SetHeaderRole(int line, int role) = 0;

    bool rolesSet = false;

protected:
    ImportSpecBase() = default;
    ImportSpecBase(const ImportSpecBase&) = default;
    ImportSpecBase& operator=(const ImportSpecBase&) = default;
    // Not virtual: the host owns and deletes its own objects; the slot order above is fixed.
    ~ImportSpecBase() = default;
};
