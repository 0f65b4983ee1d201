#include "account/velmora_api.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "account/http_reply.h"
#include "account/xml_text.h"
#include "platform/codepage.h"

namespace bsync {

bool TVelmoraApi::Init(const std::string& host, const std::string& path, const std::string& login,
                       const std::string& password) {
  UserAgent = kApiUserAgent;
  Timeout = kApiTimeoutMs;
  Host = host;
  Path = path;
  Login = login;
  Password = password;
  MethodName = "debug.get_api_version";
  Call();
  return GetMember("status") == "100";
}

bool TVelmoraApi::AddParam(const std::string& name, const std::string& value) {
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (auto& p : Params) {
    if (p.Name == lower) {
      p.Value = value;
      p.ValueType = "string";
      return true;
    }
  }
  Params.push_back({std::move(lower), value, "string"});
  return false;
}

void TVelmoraApi::BuildRequest() {
  const char* crlf = "\r\n";
  std::string b;
  b += "<?xml version=\"1.0\"?>"; b += crlf;
  b += "<methodCall>"; b += crlf;
  b += "<methodName>" + MethodName + "</methodName>"; b += crlf;
  b += "<params>"; b += crlf;
  b += "<param>"; b += crlf;
  b += "<value><struct>"; b += crlf;
  b += "<member><name>login</name>"; b += crlf;
  b += "<value><string>" + XmlEscape(Login) + "</string></value>"; b += crlf;
  b += "</member>"; b += crlf;
  b += "<member><name>password</name>"; b += crlf;
  b += "<value><string>" + XmlEscape(Password) + "</string></value>"; b += crlf;
  b += "</member>"; b += crlf;
  for (const auto& p : Params) {
    b += "<member><name>" + p.Name + "</name>"; b += crlf;
    b += "<value><" + p.ValueType + ">" + XmlEscape(p.Value) + "</" + p.ValueType + "></value>";
    b += crlf;
    b += "</member>"; b += crlf;
  }
  b += "</struct></value>"; b += crlf;
  b += "</param>"; b += crlf;
  b += "</params>"; b += crlf;
  b += "</methodCall>"; b += crlf;
  RequestBody = std::move(b);

  std::string h;
  h += "POST " + Path + " HTTP/1.1"; h += crlf;
  h += "HOST: " + Host; h += crlf;
  h += "User-Agent: " + UserAgent; h += crlf;
  h += "Content-Length: " + std::to_string(RequestBody.size()); h += crlf;
  h += "Content-Type: text/xml"; h += crlf;
  h += crlf;
  RequestHead = std::move(h);
  Request = RequestHead + RequestBody;
}

void TVelmoraApi::Call() {
  BuildRequest();
  ResponseHead.clear();
  ResponseBody.clear();
  ResponseBodyRaw.clear();
  Response.clear();
  ResponseRaw.clear();
  LastError.clear();

  std::string rawBody;
  {
    // The connection lives only for this call.
    std::optional<TlsConnection> conn = TlsConnection::Open(Host, Port, Tls, Timeout, &LastError);
    if (conn) {
      if (!conn->SendAll(Request)) {
        LastError = "sending the request failed";
      } else {
        HttpReply reply = ReadHttpReply(
            [&conn](char* buf, std::size_t size) { return conn->Receive(buf, size); });
        if (!reply.complete) LastError = "incomplete answer";
        ResponseHead = std::move(reply.head);
        rawBody = std::move(reply.body);
      }
    }
  }
  // The service answers in the Windows code page; the program's texts are UTF-8.
  ResponseBodyRaw = Cp1252ToUtf8(rawBody);
  ResponseBody = DecodeEntities(ResponseBodyRaw);
  Response = ResponseHead + ResponseBody;
  ResponseRaw = ResponseHead + ResponseBodyRaw;
}

std::string TVelmoraApi::GetMember(const std::string& name) const {
  return FindMember(ResponseBody, name);
}

}  // namespace bsync
