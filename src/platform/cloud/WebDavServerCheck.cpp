#include "WebDavServerCheck.h"

#include <QPointer>

#include <memory>

namespace {

/// One run of the check: create the scratch file, ask for its tag, then try the two writes a
/// server must refuse. Each step either ends the check with its refusal or goes on.
class ConditionalWriteCheck : public std::enable_shared_from_this<ConditionalWriteCheck>
{
public:
    ConditionalWriteCheck(WebDavClient &client, const QUrl &scratch,
                          std::function<void(CloudResult<CloudDone>)> completion)
        : m_client(&client), m_scratch(scratch), m_completion(std::move(completion))
    {}

    void start() { send("PUT", {{"If-None-Match", "*"}}, &ConditionalWriteCheck::created); }

private:
    using Step = void (ConditionalWriteCheck::*)(const WebDavResponse &);

    void created(const WebDavResponse &response)
    {
        if (response.status != 201 && response.status != 204)
            return finish(cloudErrorForHttpStatus(response.status));
        send("HEAD", {}, &ConditionalWriteCheck::tagged);
    }

    void tagged(const WebDavResponse &response)
    {
        if (strongEtag(response.etag).isEmpty())
            return finish(CloudError{CloudError::Kind::noVersionsForJson});
        send("PUT", {{"If-Match", "\"lumaret-no-such-version\""}},
             &ConditionalWriteCheck::refusedMismatch);
    }

    void refusedMismatch(const WebDavResponse &response)
    {
        if (response.status != 412)
            return finish(ignored("If-Match"));
        send("PUT", {{"If-None-Match", "*"}}, &ConditionalWriteCheck::refusedExisting);
    }

    void refusedExisting(const WebDavResponse &response)
    {
        if (response.status != 412)
            return finish(ignored("If-None-Match"));
        finish(CloudDone{});
    }

    static CloudError ignored(const char *header)
    {
        return {CloudError::Kind::ignoresWriteConditions, {}, 0, QString::fromLatin1(header)};
    }

    void send(const QByteArray &verb, WebDavClient::Headers headers, Step next)
    {
        if (!m_client)
            return;
        const bool isWrite = verb == "PUT";
        if (isWrite)
            headers.prepend({"Content-Type", "application/json"});
        m_client->send(verb, m_scratch, headers, isWrite ? QByteArray("{}") : QByteArray(),
                       [self = shared_from_this(), next](CloudResult<WebDavResponse> response) {
                           if (!response.hasValue())
                               return self->finish(response.error());
                           (self.get()->*next)(response.value());
                       });
    }

    void finish(const CloudResult<CloudDone> &result)
    {
        if (!m_client)
            return;
        m_client->send("DELETE", m_scratch, {}, {},
                       [completion = m_completion, result](CloudResult<WebDavResponse>) {
                           completion(result);
                       });
    }

    QPointer<WebDavClient> m_client;
    QUrl m_scratch;
    std::function<void(CloudResult<CloudDone>)> m_completion;
};

} // namespace

void checkConditionalWrites(WebDavClient &client, const QUrl &scratch,
                            std::function<void(CloudResult<CloudDone>)> completion)
{
    std::make_shared<ConditionalWriteCheck>(client, scratch, std::move(completion))->start();
}
