#include "identity/OidcIdToken.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QList>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rand.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

template <auto Free> struct OpenSslDeleter
{
    template <typename T> void operator()(T *pointer) const { Free(pointer); }
};
using PKey = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY_free>>;
using PKeyContext = std::unique_ptr<EVP_PKEY_CTX, OpenSslDeleter<EVP_PKEY_CTX_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, OpenSslDeleter<EVP_MD_CTX_free>>;
using BigNumber = std::unique_ptr<BIGNUM, OpenSslDeleter<BN_free>>;
using ParamBuilder = std::unique_ptr<OSSL_PARAM_BLD, OpenSslDeleter<OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, OpenSslDeleter<OSSL_PARAM_free>>;
using EcdsaSignature = std::unique_ptr<ECDSA_SIG, OpenSslDeleter<ECDSA_SIG_free>>;

enum class Algorithm { rs256, es256 };

constexpr int es256CoordinateSize = 32;
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

std::optional<QByteArray> decodeKeyMember(const QJsonObject &jwk, QLatin1StringView name)
{
    const QJsonValue value = jwk.value(name);
    if (!value.isString())
        return std::nullopt;
    return decodeBase64Url(value.toString().toLatin1());
}

BigNumber bigNumber(const QByteArray &bytes)
{
    return BigNumber(BN_bin2bn(reinterpret_cast<const unsigned char *>(bytes.constData()),
                               int(bytes.size()), nullptr));
}

PKey keyFromParams(const char *type, OSSL_PARAM_BLD *builder)
{
    Params params(OSSL_PARAM_BLD_to_param(builder));
    PKeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1)
        return nullptr;
    EVP_PKEY *key = nullptr;
    if (EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1)
        return nullptr;
    return PKey(key);
}

PKey rsaKey(const QJsonObject &jwk)
{
    const auto modulus = decodeKeyMember(jwk, QLatin1StringView("n"));
    const auto exponent = decodeKeyMember(jwk, QLatin1StringView("e"));
    if (!modulus || !exponent || modulus->isEmpty() || exponent->isEmpty())
        return nullptr;
    BigNumber n = bigNumber(*modulus);
    BigNumber e = bigNumber(*exponent);
    ParamBuilder builder(OSSL_PARAM_BLD_new());
    if (!n || !e || !builder || BN_num_bits(n.get()) < minimumRsaBits ||
        OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1 ||
        OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1)
        return nullptr;
    return keyFromParams("RSA", builder.get());
}

PKey p256Key(const QJsonObject &jwk)
{
    if (jwk.value(QLatin1StringView("crv")).toString() != QLatin1StringView("P-256"))
        return nullptr;
    const auto x = decodeKeyMember(jwk, QLatin1StringView("x"));
    const auto y = decodeKeyMember(jwk, QLatin1StringView("y"));
    if (!x || !y || x->size() != es256CoordinateSize || y->size() != es256CoordinateSize)
        return nullptr;
    // The uncompressed point form: 0x04, then x, then y.
    const QByteArray point = QByteArray(1, '\x04') + *x + *y;
    ParamBuilder builder(OSSL_PARAM_BLD_new());
    if (!builder ||
        OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1",
                                        0) != 1 ||
        OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point.constData(),
                                         size_t(point.size())) != 1)
        return nullptr;
    return keyFromParams("EC", builder.get());
}

// A JWS ES256 signature is r and s side by side; OpenSSL verifies the DER form.
std::optional<QByteArray> derEcdsaSignature(const QByteArray &raw)
{
    if (raw.size() != 2 * es256CoordinateSize)
        return std::nullopt;
    EcdsaSignature signature(ECDSA_SIG_new());
    BigNumber r = bigNumber(raw.left(es256CoordinateSize));
    BigNumber s = bigNumber(raw.mid(es256CoordinateSize));
    if (!signature || !r || !s || ECDSA_SIG_set0(signature.get(), r.get(), s.get()) != 1)
        return std::nullopt;
    // The signature owns r and s now.
    r.release();
    s.release();
    unsigned char *der = nullptr;
    const int length = i2d_ECDSA_SIG(signature.get(), &der);
    if (length <= 0)
        return std::nullopt;
    QByteArray result(reinterpret_cast<const char *>(der), length);
    OPENSSL_free(der);
    return result;
}

bool verifySha256(EVP_PKEY *key, const QByteArray &signedPart, const QByteArray &signature)
{
    DigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1)
        return false;
    return EVP_DigestVerify(context.get(),
                            reinterpret_cast<const unsigned char *>(signature.constData()),
                            size_t(signature.size()),
                            reinterpret_cast<const unsigned char *>(signedPart.constData()),
                            size_t(signedPart.size())) == 1;
}

// The keys of the set that may have made this token's signature: right type and curve, meant
// for signatures with this algorithm, and with the token's key id when it names one.
std::vector<PKey> candidateKeys(const QJsonObject &jwks, Algorithm algorithm,
                                const QJsonValue &keyId)
{
    const QString type =
        algorithm == Algorithm::rs256 ? QStringLiteral("RSA") : QStringLiteral("EC");
    const QString algorithmName =
        algorithm == Algorithm::rs256 ? QStringLiteral("RS256") : QStringLiteral("ES256");
    std::vector<PKey> keys;
    const QJsonArray members = jwks.value(QLatin1StringView("keys")).toArray();
    for (const QJsonValue &member : members) {
        const QJsonObject jwk = member.toObject();
        if (jwk.value(QLatin1StringView("kty")).toString() != type)
            continue;
        const QJsonValue use = jwk.value(QLatin1StringView("use"));
        if (!use.isUndefined() && use.toString() != QLatin1StringView("sig"))
            continue;
        const QJsonValue alg = jwk.value(QLatin1StringView("alg"));
        if (!alg.isUndefined() && alg.toString() != algorithmName)
            continue;
        if (keyId.isString() && jwk.value(QLatin1StringView("kid")) != keyId)
            continue;
        PKey key = algorithm == Algorithm::rs256 ? rsaKey(jwk) : p256Key(jwk);
        if (key)
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

    QByteArray signatureBytes = *signature;
    if (algorithm == Algorithm::es256) {
        const auto der = derEcdsaSignature(signatureBytes);
        if (!der)
            return IdTokenFault::badSignature;
        signatureBytes = *der;
    }
    const std::vector<PKey> keys =
        candidateKeys(jwks, algorithm, header.value(QLatin1StringView("kid")));
    if (keys.empty())
        return IdTokenFault::noMatchingKey;
    const QByteArray signedPart = parts[0] + '.' + parts[1];
    const bool verified = std::any_of(keys.cbegin(), keys.cend(), [&](const PKey &key) {
        return verifySha256(key.get(), signedPart, signatureBytes);
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
