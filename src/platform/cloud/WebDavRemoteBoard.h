#pragma once

#include "services/RemoteBoard.h"

#include <memory>

class WebDavCloudDatabase;

/// The board as the file "Lumaret/board.json" in the connected WebDAV folder, holding exactly
/// what the local board file holds. Where that file does not exist yet, the envelope older
/// versions kept is read in its place, once per launch, so that its board is merged and then
/// written as the file; the envelope itself stays where it is.
class WebDavRemoteBoard : public RemoteBoard
{
public:
    explicit WebDavRemoteBoard(std::unique_ptr<WebDavCloudDatabase> database);
    ~WebDavRemoteBoard() override;

    void accountStatus(AccountStatusCompletion completion) override;
    void fetch(FetchCompletion completion) override;
    void save(const Board &board, const QByteArray &basedOn, SaveCompletion completion) override;
    void version(VersionCompletion completion) override;
    void moveAside(const QByteArray &version, MoveAsideCompletion completion) override;
    void asides(AsidesCompletion completion) override;
    void fetchAside(const QString &name, FetchCompletion completion) override;
    void removeAside(const QString &name, DoneCompletion completion) override;

    static QString recordName();

private:
    void fetchOlderEnvelope(FetchCompletion completion);

    std::unique_ptr<WebDavCloudDatabase> m_database;
    bool m_hasReadOlderEnvelope = false;
};
