#pragma once
// IQVQuery over the activated remote object of the Quorvis Service.
#include "platform/remote_activation.h"
#include "service/qv_query.h"

#include <memory>
#include <string>
#include <string_view>

class RemoteQVQuery final : public IQVQuery {
public:
    explicit RemoteQVQuery(std::shared_ptr<RemoteObject> object) : object_(std::move(object)) {}

    HRESULT Query(const QueryRequest& request, RecordsetPtr& result) override;
    HRESULT QueryProgramInfo(const ProgramInfoRequest& request, RecordsetPtr& result) override;
    std::string ErrorDescription() const override { return error_; }

private:
    HRESULT Take(RemoteAnswer answer, RecordsetPtr& result);

    std::shared_ptr<RemoteObject> object_;
    std::string error_;
};

// The service's object on serverName, asked for IQVQuery.
ActivationResult ActivateQuorvisService(std::string_view serverName, RemoteDeadlines deadlines = {},
                                        const ChannelSecurity& security = {});
