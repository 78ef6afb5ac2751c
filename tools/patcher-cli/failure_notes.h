#pragma once
// What failed, in words, for the lines patcher-cli writes on stderr, from the cause the
// workflow shows: the archives of a damaged folder with their causes, the update server with
// its host, port and the cause of the failed request, the file or archive that could not be
// written, the package that does not fit.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/update_server_address.h"
#include "workflow/workflow_window.h"

class FailureNotes {
 public:
  explicit FailureNotes(UpdateServerAddress server) : server_(std::move(server)) {}

  // The lines that explain the cause.
  std::vector<std::string> Explain(const FailureCause& cause) const;
  // A server version below the client's: the server cannot be right.
  std::string ServerBehind(int32_t server, int32_t client) const;

 private:
  std::vector<std::string> Archives(const OpenResult& opened) const;
  std::string Version(const ServerVersion& version) const;
  std::string List(const ListResult& list) const;
  std::string Files(const CheckResult& checked) const;
  std::string Package(const ApplyResult& applied) const;
  std::string Write(const WriteResult& written) const;
  // "сервер обновлений HOST:PORT: не удалось получить <what>[: <cause>]".
  std::string ServerFailure(std::string_view what, std::string_view cause) const;
  std::string Server() const;
  // The request's cause in words, with its host when that is not the update server; empty
  // when it did not fail.
  std::string RequestCause(const FailedRequest& request) const;

  const UpdateServerAddress server_;
};

// A path as the platform writes it ("\" or "/").
std::string DisplayPath(std::u16string_view path);
