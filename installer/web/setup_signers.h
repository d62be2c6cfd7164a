#pragma once
// Which publishers may sign the MetaTrader 4 setup program that the installer
// downloads and runs with administrator rights.
#include <string>
#include <string_view>
#include <vector>

namespace installer {

// The accepted names: the build's `;`-separated list, then the package's own
// one more name. Blank entries are dropped: an empty name would accept every
// signer.
std::vector<std::string> acceptedSetupSigners(std::string_view buildList, std::string_view packageName);

// A certificate name is accepted when, without regard to ASCII case, it
// equals an accepted name or begins with it followed by a space or a
// punctuation mark ("MetaQuotes" accepts "MetaQuotes Ltd." and
// "MetaQuotes, Inc", never "MetaQuotesX").
bool signerNameAccepted(std::string_view certificateName, std::string_view acceptedName);

// The signer is accepted when its subject organization (O) or its common name
// (CN), both UTF-8, is accepted by one of the names.
bool setupSignerAccepted(std::string_view organization, std::string_view commonName,
                         const std::vector<std::string>& acceptedNames);

}  // namespace installer
