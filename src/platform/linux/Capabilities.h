#pragma once

// Whether CAP_NET_ADMIN is in this process's effective set: closing other programs' connections
// (SOCK_DESTROY) and changing the packet filter (nftables) both ask for it.
bool mayAdministerNetwork();
