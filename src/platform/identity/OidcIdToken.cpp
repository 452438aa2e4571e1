#include "identity/OidcIdToken.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QList>

#include <cjose/jwk.h>
#include <cjose/jws.h>
#include <openssl/rand.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// cjose verifies the signature and imports the keys; which algorithms, keys and claims are
// accepted stays decided here.
template <auto Release> struct CjoseDeleter
{
    template <typename T> void operator()(T *pointer) const { Release(pointer); }
};
using Jwk = std::unique_ptr<cjose_jwk_t, CjoseDeleter<cjose_jwk_release>>;
using Jws = std::unique_ptr<cjose_jws_t, CjoseDeleter<cjose_jws_release>>;

enum class Algorithm { rs256, es256 };

constexpr int minimumRsaBits = 2048;

std::optional<QByteArray> decodeBase64Url(QByteArrayView text)
{
    auto result = QByteArray::fromBase64Encoding(
        text.toByteArray(), QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals |
                                QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return *result;
}

Jwk importKey(const QJsonObject &jwk, Algorithm algorithm)
{
    const QByteArray json = QJsonDocument(jwk).toJson(QJsonDocument::Compact);
    cjose_err error;
    Jwk key(cjose_jwk_import(json.constData(), size_t(json.size()), &error));
    if (!key)
        return nullptr;
    const cjose_jwk_kty_t expected =
        algorithm == Algorithm::rs256 ? CJOSE_JWK_KTY_RSA : CJOSE_JWK_KTY_EC;
    if (cjose_jwk_get_kty(key.get(), &error) != expected)
        return nullptr;
    if (algorithm == Algorithm::rs256 &&
        cjose_jwk_get_keysize(key.get(), &error) < size_t(minimumRsaBits))
        return nullptr;
    return key;
}

// The keys of the set that may have made this token's signature: right type and curve, meant
// for signatures with this algorithm, and with the token's key id when it names one.
std::vector<Jwk> candidateKeys(const QJsonObject &jwks, Algorithm algorithm,
                               const QJsonValue &keyId)
{
    const QString type =
        algorithm == Algorithm::rs256 ? QStringLiteral("RSA") : QStringLiteral("EC");
    const QString algorithmName =
        algorithm == Algorithm::rs256 ? QStringLiteral("RS256") : QStringLiteral("ES256");
    std::vector<Jwk> keys;
    const QJsonArray members = jwks.value(QLatin1StringView("keys")).toArray();
    for (const QJsonValue &member : members) {
        const QJsonObject jwk = member.toObject();
        if (jwk.value(QLatin1StringView("kty")).toString() != type)
            continue;
        // ES256 is P-256 and SHA-256 together; a key on another curve is another algorithm.
        if (algorithm == Algorithm::es256 &&
            jwk.value(QLatin1StringView("crv")).toString() != QLatin1StringView("P-256"))
            continue;
        const QJsonValue use = jwk.value(QLatin1StringView("use"));
        if (!use.isUndefined() && use.toString() != QLatin1StringView("sig"))
            continue;
        const QJsonValue alg = jwk.value(QLatin1StringView("alg"));
        if (!alg.isUndefined() && alg.toString() != algorithmName)
            continue;
        if (keyId.isString() && jwk.value(QLatin1StringView("kid")) != keyId)
            continue;
        // Only the public members go to the import: a set has no business holding private ones.
        QJsonObject publicKey{{QStringLiteral("kty"), type}};
        for (const char *name : {"n", "e", "crv", "x", "y"}) {
            if (jwk.contains(QLatin1StringView(name)))
                publicKey.insert(QLatin1StringView(name), jwk.value(QLatin1StringView(name)));
        }
        if (Jwk key = importKey(publicKey, algorithm))
            keys.push_back(std::move(key));
    }
    return keys;
}

bool audienceMatches(const QJsonObject &claims, const QString &clientId)
{
    const QJsonValue audience = claims.value(QLatin1StringView("aud"));
    const QJsonValue authorisedParty = claims.value(QLatin1StringView("azp"));
    if (!authorisedParty.isUndefined() && authorisedParty.toString() != clientId)
        return false;
    if (audience.isString())
        return audience.toString() == clientId;
    const QJsonArray audiences = audience.toArray();
    if (!audiences.contains(QJsonValue(clientId)))
        return false;
    // A token meant for several parties must say which of them it was issued to.
    return audiences.size() == 1 || authorisedParty.isString();
}

} // namespace

IdTokenVerdict validateIdToken(const QByteArray &token, const QJsonObject &jwks,
                               const IdTokenExpectations &expectations)
{
    const QList<QByteArray> parts = token.split('.');
    if (parts.size() != 3)
        return IdTokenFault::malformed;
    const auto headerBytes = decodeBase64Url(parts[0]);
    const auto payloadBytes = decodeBase64Url(parts[1]);
    const auto signature = decodeBase64Url(parts[2]);
    if (!headerBytes || !payloadBytes || !signature)
        return IdTokenFault::malformed;
    const QJsonDocument headerDocument = QJsonDocument::fromJson(*headerBytes);
    const QJsonDocument payloadDocument = QJsonDocument::fromJson(*payloadBytes);
    if (!headerDocument.isObject() || !payloadDocument.isObject())
        return IdTokenFault::malformed;
    const QJsonObject header = headerDocument.object();

    // Only the two asymmetric algorithms are accepted: "none" and the HMAC family would let
    // anyone who knows the client id mint tokens.
    const QString algorithmName = header.value(QLatin1StringView("alg")).toString();
    Algorithm algorithm;
    if (algorithmName == QLatin1StringView("RS256"))
        algorithm = Algorithm::rs256;
    else if (algorithmName == QLatin1StringView("ES256"))
        algorithm = Algorithm::es256;
    else
        return IdTokenFault::unsupportedAlgorithm;
    if (header.contains(QLatin1StringView("crit")))
        return IdTokenFault::unsupportedAlgorithm;

    cjose_err error;
    Jws jws(cjose_jws_import(token.constData(), size_t(token.size()), &error));
    if (!jws)
        return IdTokenFault::malformed;
    // The header cjose verifies by is the one whose algorithm was accepted above.
    if (QLatin1StringView(cjose_header_get(cjose_jws_get_protected(jws.get()), CJOSE_HDR_ALG,
                                           &error)) != algorithmName)
        return IdTokenFault::malformed;
    const std::vector<Jwk> keys =
        candidateKeys(jwks, algorithm, header.value(QLatin1StringView("kid")));
    if (keys.empty())
        return IdTokenFault::noMatchingKey;
    const bool verified = std::any_of(keys.cbegin(), keys.cend(), [&](const Jwk &key) {
        return cjose_jws_verify(jws.get(), key.get(), &error);
    });
    if (!verified)
        return IdTokenFault::badSignature;

    const QJsonObject claims = payloadDocument.object();
    if (claims.value(QLatin1StringView("iss")).toString() != expectations.issuer)
        return IdTokenFault::wrongIssuer;
    if (!audienceMatches(claims, expectations.clientId))
        return IdTokenFault::wrongAudience;
    const QJsonValue expiry = claims.value(QLatin1StringView("exp"));
    if (!expiry.isDouble())
        return IdTokenFault::expired;
    const qint64 nowSeconds = expectations.now.toSecsSinceEpoch();
    if (qint64(expiry.toDouble()) + expectations.leeway.count() <= nowSeconds)
        return IdTokenFault::expired;
    if (expectations.nonce &&
        claims.value(QLatin1StringView("nonce")).toString() != *expectations.nonce)
        return IdTokenFault::wrongNonce;
    if (claims.value(QLatin1StringView("sub")).toString().isEmpty())
        return IdTokenFault::missingSubject;
    return claims;
}

QByteArray randomUrlSafeToken(int byteCount)
{
    QByteArray bytes(byteCount, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char *>(bytes.data()), byteCount) != 1)
        return {};
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray pkceS256Challenge(const QByteArray &verifier)
{
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}
