#pragma once
// IQVQuery: the Quorvis Service's query interface, as the viewer sees it.
// Each operation sends its request record and receives a result set; a
// negative status means failure, with the object's text in ErrorDescription.
#include "platform/hresult.h"
#include "platform/recordset.h"
#include "proto/query_request.h"

#include <memory>
#include <string>

using RecordsetPtr = std::unique_ptr<Recordset>;

class IQVQuery {
public:
    virtual ~IQVQuery() = default;
    virtual HRESULT Query(const QueryRequest& request, RecordsetPtr& result) = 0;
    virtual HRESULT QueryProgramInfo(const ProgramInfoRequest& request, RecordsetPtr& result) = 0;
    // The description of the last failure.
    virtual std::string ErrorDescription() const = 0;
};

// The operations as the loaders and reports call them: a failure, an empty
// interface (0x80004003) or a missing result set raises DataAccessError.
RecordsetPtr RunQuery(IQVQuery* service, const QueryRequest& request);
RecordsetPtr RunProgramInfoQuery(IQVQuery* service, const ProgramInfoRequest& request);
