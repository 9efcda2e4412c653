// FTP value types shared by the client, its observers and the listing parser.
#pragma once

namespace nsFTP {

// The empty root of the FTP interfaces.
class IInterface {
public:
    virtual ~IInterface() = default;
};

}  // namespace nsFTP
