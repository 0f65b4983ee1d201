// TVelmoraApi: a small XML-RPC client for the provider's account service. It builds one method
// call whose single parameter is a struct of string members, posts it over TLS, reads the HTTP
// answer and finds struct members in it by plain string search. It knows nothing of the account
// methods; the login action sets the method, adds members, calls and reads what it needs.
#pragma once

#include <string>
#include <vector>

#include "account/tls_connection.h"

namespace bsync {

// One member of the request struct.
struct TVelmoraApiParam {
  std::string Name;       // lower-cased
  std::string Value;      // escaped when the request is built
  std::string ValueType;  // the XML-RPC type element; AddParam always stores "string"
};

class TVelmoraApi {
 public:
  std::string UserAgent;
  std::string RequestHead;
  std::string RequestBody;
  std::string Request;  // RequestHead + RequestBody: the bytes sent
  int Timeout = 0;      // milliseconds each wait may take; Init sets 15000
  std::string Host;
  std::string Path;
  std::string Login;
  std::string Password;
  std::string MethodName;
  std::vector<TVelmoraApiParam> Params;  // never cleared: every call sends all members added
  std::string ResponseHead;     // the answer's status line and headers with their CR LF
  std::string ResponseBody;     // the body in UTF-8 with entities decoded; what GetMember searches
  std::string ResponseBodyRaw;  // the same before entity decoding
  std::string Response;         // ResponseHead + ResponseBody
  std::string ResponseRaw;      // ResponseHead + ResponseBodyRaw

  // Where the service listens and how its certificate is checked; set before Init. The
  // provider's service uses port 443 and a certificate from a public CA.
  int Port = 443;
  TlsOptions Tls;
  // Why the last call got no complete answer (connection, TLS or HTTP); empty after success.
  std::string LastError;

  // Stores the connection data, sets UserAgent and Timeout, and probes the service with
  // "debug.get_api_version": true exactly when the answer's "status" is "100".
  bool Init(const std::string& host, const std::string& path, const std::string& login,
            const std::string& password);

  // Sets the member name (lower-cased) to value: replaces the value of an existing member in its
  // place and returns true, or appends a new member and returns false.
  bool AddParam(const std::string& name, const std::string& value);

  // Sends MethodName with all members and reads the answer into the response fields. Reports
  // nothing itself: a failed call leaves a body in which the wanted members are missing.
  void Call();

  // The value of the first struct member of that name in ResponseBody, or "".
  std::string GetMember(const std::string& name) const;

  // Builds RequestBody, RequestHead and Request from the current fields (the first step of Call).
  void BuildRequest();
};

inline constexpr char kApiUserAgent[] = "laz_unt_velmora_api/r1";
inline constexpr int kApiTimeoutMs = 15000;

}  // namespace bsync
