#include "installer/web/setup_signers.h"

#include <gtest/gtest.h>

namespace {

using installer::acceptedSetupSigners;
using installer::setupSignerAccepted;
using installer::signerNameAccepted;

TEST(SetupSigners, CertificateNamesAgainstOneAcceptedName) {
  struct Case {
    const char* certificate;
    const char* accepted;
    bool expected;
  };
  const Case cases[] = {
      {"MetaQuotes Ltd.", "MetaQuotes", true},
      {"MetaQuotes Software Corp.", "MetaQuotes", true},
      {"METAQUOTES LTD", "MetaQuotes", true},
      {"metaquotes", "MetaQuotes", true},
      {"MetaQuotes, Inc", "MetaQuotes", true},
      {"MetaQuotes-Software", "MetaQuotes", true},
      {"MetaQuotesX Ltd", "MetaQuotes", false},
      {"MetaQuotes2", "MetaQuotes", false},
      {"Meta Quotes Ltd", "MetaQuotes", false},
      {"Not MetaQuotes Ltd", "MetaQuotes", false},
      {"MetaQuote", "MetaQuotes", false},
      {"", "MetaQuotes", false},
      {"MetaQuotes\xC3\xA9", "MetaQuotes", false},  // a letter in UTF-8 continues the name
      {"Example Broker Ltd", "Example Broker", true},
      {"Example Brokerage Ltd", "Example Broker", false},
      {"Anything", "", false},
      {"", "", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(signerNameAccepted(c.certificate, c.accepted), c.expected)
        << "certificate \"" << c.certificate << "\", accepted \"" << c.accepted << "\"";
}

TEST(SetupSigners, EitherOrganizationOrCommonNameIsEnough) {
  const auto names = acceptedSetupSigners("MetaQuotes", "");
  EXPECT_TRUE(setupSignerAccepted("MetaQuotes Ltd.", "Someone Else", names));
  EXPECT_TRUE(setupSignerAccepted("", "MetaQuotes Software Corp.", names));
  EXPECT_FALSE(setupSignerAccepted("Quotes Meta Ltd", "MetaQuotesSoftware", names));
  EXPECT_FALSE(setupSignerAccepted("", "", names));
}

TEST(SetupSigners, BuildListAndPackageName) {
  EXPECT_EQ(acceptedSetupSigners("MetaQuotes", ""), std::vector<std::string>{"MetaQuotes"});
  EXPECT_EQ(acceptedSetupSigners(" MetaQuotes ; ;Other Publisher;", "  Example Broker "),
            (std::vector<std::string>{"MetaQuotes", "Other Publisher", "Example Broker"}));
  EXPECT_TRUE(acceptedSetupSigners("", "").empty());
  EXPECT_TRUE(acceptedSetupSigners(";;", " ").empty());
  // No blank entry may accept every signer.
  EXPECT_FALSE(setupSignerAccepted("Anyone", "Anyone", acceptedSetupSigners("; ;", "")));
}

}  // namespace
