#pragma once

// The small DER walk: just enough of the encoding to keep bags and attribute sets as their bytes and
// to find what a MAC covers. Every function checks lengths against the end it is given.

#include <cstddef>
#include <span>
#include <vector>

#include "certificate/OpenSslHandles.h"

namespace kiv::certificate {

// Reads one definite-length TLV header; on success `p` points at the contents and `length` is their size.
bool Header(const unsigned char*& p, const unsigned char* end, long& length);

// Steps into the next element, which must be of the given class, tag and form.
bool Expect(const unsigned char*& p, const unsigned char* end, int xclass, int tag, bool constructed,
            long& length);

// The whole encoding of each element of a DER SEQUENCE OF that spans exactly `der`. False for
// anything else, such as BER with indefinite lengths.
bool SequenceElements(std::span<const unsigned char> der,
                      std::vector<std::span<const unsigned char>>& elements);

// SafeBag ::= SEQUENCE { bagId, [0] EXPLICIT bagValue, bagAttributes SET OPTIONAL }: `value` is
// what the [0] holds, `attributes` whatever follows it.
bool BagParts(std::span<const unsigned char> bag, std::span<const unsigned char>& value,
              std::span<const unsigned char>& attributes);

// Whether a CertBag (SEQUENCE { certId, [0] EXPLICIT certValue }, what a certificate bag's [0]
// holds) carries an OCTET STRING that holds exactly one X.509 certificate: every field in its place
// and decoded by the rules OpenSSL's certificate decode applies (names, algorithms, times,
// extensions), but the public key, which is left as the bits of its BIT STRING.
bool CertBagHoldsCertificate(std::span<const unsigned char> certBag);

// SEQUENCE OF with these elements, as SafeContents are encoded; empty when too large.
Secret SequenceOf(const std::vector<std::span<const unsigned char>>& elements);

// The contents of the authSafe's OCTET STRING in a PFX, exactly as the file holds them.
bool AuthSafeContents(std::span<const unsigned char> der, std::span<const unsigned char>& contents);

}  // namespace kiv::certificate
