// Cost of the account-service client's text work: building a request, decoding an answer and
// reading the account list from it by string search (which rescans the body for every member).
#include <benchmark/benchmark.h>

#include <string>

#include "account/velmora_api.h"
#include "account/xml_text.h"

namespace {

std::string AnswerWithAccounts(int count) {
  std::string b = "<methodResponse><params><param><value><struct>"
                  "<member><name>status</name><value><string>100</string></value></member>";
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    for (const char* name : {"sync_ord_no", "snyc_server_type", "sync_server_host",
                             "sync_server_user", "sync_server_password"})
      b += "<member><name>" + std::string(name) + n + "</name><value><string>v&amp;" + n +
           "</string></value></member>";
  }
  return b + "</struct></value></param></params></methodResponse>";
}

void BM_ReadAccountList(benchmark::State& state) {
  const std::string body = bsync::DecodeEntities(AnswerWithAccounts(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    int found = 0;
    for (int i = 0;; ++i) {
      const std::string n = std::to_string(i);
      if (bsync::FindMember(body, "sync_ord_no" + n).empty()) break;
      for (const char* name : {"snyc_server_type", "sync_server_host", "sync_server_user",
                               "sync_server_password"})
        benchmark::DoNotOptimize(bsync::FindMember(body, name + n));
      ++found;
    }
    benchmark::DoNotOptimize(found);
  }
  state.counters["accounts"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_ReadAccountList)->Arg(1)->Arg(10)->Arg(100);

void BM_DecodeEntities(benchmark::State& state) {
  const std::string body = AnswerWithAccounts(100);
  for (auto _ : state) benchmark::DoNotOptimize(bsync::DecodeEntities(body));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_DecodeEntities);

void BM_BuildRequest(benchmark::State& state) {
  bsync::TVelmoraApi api;
  api.Host = "api.brindlesync.example";
  api.Path = "/index.pl";
  api.MethodName = "sync.create_account";
  for (const char* name : {"customer_username", "customer_password", "customer_activity_sphere",
                           "sync_client_version", "customer_email", "customer_firstname",
                           "customer_lastname", "customer_att"})
    api.AddParam(name, "value & <text>");
  for (auto _ : state) {
    api.BuildRequest();
    benchmark::DoNotOptimize(api.Request);
  }
}
BENCHMARK(BM_BuildRequest);

}  // namespace
