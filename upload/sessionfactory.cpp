#include "sessionfactory.h"

#include "ftpsession.h"
#include "sftpsession.h"

namespace upload {

std::unique_ptr<ServerSession> makeSession(const UploadRequest &request,
                                           const SessionOptions &options, QString *error) {
    const std::optional<ServerAddress> address = ServerAddress::parse(request.host, error);
    if (!address)
        return nullptr;
    std::unique_ptr<ServerSession> session;
    if (address->security == ServerAddress::Sftp) {
        auto sftp = std::make_unique<SftpSession>(*address, request.user, request.password);
        sftp->setKnownHostsFile(options.knownHostsFile);
        sftp->setGlobalKnownHostsFile(options.globalKnownHostsFile);
        session = std::move(sftp);
    } else {
        auto ftp = std::make_unique<FtpSession>(*address, request.user, request.password);
        ftp->setTrustedCertificates(options.trustedCertificates);
        session = std::move(ftp);
    }
    session->setTimeout(options.timeout);
    if (options.nameLookup)
        session->setNameLookup(options.nameLookup);
    return session;
}

} // namespace upload
