#include "service/remote_qv_query.h"

#include "proto/qv_contract.h"

HRESULT RemoteQVQuery::Query(const QueryRequest& request, RecordsetPtr& result) {
    auto bytes = RequestBytes(request);
    return Take(object_->Query(bytes), result);
}

HRESULT RemoteQVQuery::QueryProgramInfo(const ProgramInfoRequest& request, RecordsetPtr& result) {
    auto bytes = RequestBytes(request);
    return Take(object_->QueryProgramInfo(bytes), result);
}

HRESULT RemoteQVQuery::Take(RemoteAnswer answer, RecordsetPtr& result) {
    error_ = std::move(answer.description);
    result = std::move(answer.recordset);
    return answer.hr;
}

ActivationResult ActivateQuorvisService(std::string_view serverName, RemoteDeadlines deadlines,
                                        const ChannelSecurity& security) {
    return ActivateRemoteObject(serverName, qv::contract::kClassId, qv::contract::kQueryInterfaceId, deadlines,
                                security);
}
