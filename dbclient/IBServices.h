// The database server's backup and restore services as components: attach to the
// services manager of a server (or of the in-process engine), start a backup or a
// restore and read the server's output, line by line or in blocks, until it ends.
//
// These classes load the client library themselves ("gds32.dll", which resolves to the
// Firebird client on Linux) and bind only the services calls; they do not go through
// the database session of IB_Session.
//
// File names (DatabaseName, BackupFile) are Windows-1250 text and reach the server as
// UTF-8; the server's output lines and error messages come back as Windows-1250.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "dbclient/IB_Header.h"
#include "platform/classes.h"
#include "platform/exceptions.h"
#include "platform/types.h"

namespace pelvar {

// --- Errors --------------------------------------------------------------------------

// Base of the services' errors: an EDatabaseError with the server's SQL code and error
// code (both 0 for errors found on this side).
class EIBError : public EDatabaseError {
 public:
  explicit EIBError(const AnsiString& message) : EDatabaseError(message) {}
  EIBError(int32_t sql_code, int32_t ib_error_code, const AnsiString& message)
      : EDatabaseError(message), sql_code_(sql_code), ib_error_code_(ib_error_code) {}
  int32_t SQLCode() const { return sql_code_; }
  int32_t IBErrorCode() const { return ib_error_code_; }

 private:
  int32_t sql_code_ = 0;
  int32_t ib_error_code_ = 0;
};

// A failure the server (or the client library) reported: the message holds the
// library's text for every entry of the status vector, one line each.
class EIBInterBaseError : public EIBError {
 public:
  using EIBError::EIBError;
};

// A misuse found before anything reached the server (not attached, bad parameter, ...).
class EIBClientError : public EIBError {
 public:
  using EIBError::EIBError;
};

// --- Settings ------------------------------------------------------------------------

// How the services manager is reached. Local is the in-process engine's services
// manager ("service_mgr"); TCP is "server:service_mgr". SPX and NamedPipe are kept for
// their numbers; the Linux client library does not offer them.
enum class TProtocol : uint8_t { TCP = 0, SPX = 1, NamedPipe = 2, Local = 3 };

// The backup options this system uses.
enum class TBackupOption : uint8_t {
  IgnoreLimbo,  // leave transactions in limbo out of the backup
};
using TBackupOptions = TEnumSet<TBackupOption>;

// The restore options this system uses.
enum class TRestoreOption : uint8_t {
  Replace,      // overwrite an existing database file (or create a new one)
  CreateNewDB,  // create a new database; an existing file is an error
};
using TRestoreOptions = TEnumSet<TRestoreOption>;

// --- Components ----------------------------------------------------------------------

// An attachment to a services manager.
class TIBCustomService : public TComponent {
 public:
  explicit TIBCustomService(TComponent* owner);
  // Detaches when still attached (errors of that detach are dropped).
  ~TIBCustomService() override;

  // The server's host name. Changing it while attached raises EIBClientError. A name
  // given while the protocol is Local switches the protocol to TCP; an empty name
  // switches it back to Local.
  const AnsiString& ServerName() const { return server_name_; }
  void SetServerName(const AnsiString& value);
  // Changing it while attached raises EIBClientError; Local clears the server name.
  TProtocol Protocol() const { return protocol_; }
  void SetProtocol(TProtocol value);
  // On (the default), attaching would ask the user for the login; services have no
  // login dialog, so the attach is refused (EIBClientError). Switch it off and give
  // the login in Params.
  bool LoginPrompt() const { return login_prompt_; }
  void SetLoginPrompt(bool value) { login_prompt_ = value; }
  // name=value lines: "user_name" and "password" (an "isc_spb_" prefix is allowed and
  // names ignore case); other names make Attach raise EIBClientError. Blank names are
  // skipped.
  TStrings* Params() const { return params_.get(); }
  void SetParams(const TStrings* value);

  // True while attached; setting it attaches or detaches.
  bool Active() const { return handle_ != 0; }
  void SetActive(bool value);
  // Raises EIBClientError when attached already, or for a non-local protocol without a
  // server name, an unknown parameter or a refused login prompt; EIBInterBaseError when
  // the services manager refuses (wrong password, unknown host, ...).
  void Attach();
  // Raises EIBClientError when not attached; EIBInterBaseError when the library
  // reports a failure (the component counts as detached afterwards all the same).
  void Detach();

 protected:
  void CheckActive() const;
  void CheckInactive() const;
  // Sends the query items and leaves the answer in Output(). A failure detaches and
  // raises EIBInterBaseError.
  void ServiceQuery(const std::string& items);
  const std::string& Output() const { return output_; }
  // Raises the status vector of the last call as EIBInterBaseError after detaching
  // (quietly) when still attached.
  [[noreturn]] void RaiseServiceError(const ISC_STATUS* status);

  isc_svc_handle handle_ = 0;

 private:
  AnsiString server_name_;
  TProtocol protocol_ = TProtocol::Local;
  bool login_prompt_ = true;
  std::unique_ptr<TStringList> params_;
  std::string output_;
};

// A service that is started with a parameter block.
class TIBControlService : public TIBCustomService {
 public:
  using TIBCustomService::TIBCustomService;
  // Starts the service's action on the server. Raises EIBClientError when not
  // attached, EIBInterBaseError when the server refuses to start it.
  void ServiceStart();

 protected:
  // The action's parameter block (first byte: the action).
  virtual std::string StartParams() const = 0;
  virtual void ServiceStarted() {}
};

// A started service whose output is read back.
// One answer of the services manager to a query for output: the text cluster of the asked
// item and the markers after it. A complete answer ends with isc_info_end; isc_info_truncated
// says more text follows; isc_info_data_not_ready or isc_info_svc_timeout say the service has
// produced nothing new yet (which is not the end). Anything else raises EIBClientError.
struct TServiceOutputAnswer {
  std::string_view text;
  bool end = false;
  bool truncated = false;
  bool not_ready = false;
};
TServiceOutputAnswer ParseServiceOutput(const std::string& out, char item);
// Adds one answer to a line of output being gathered. The server gives a whole line with a
// blank in place of its line break; a busy service answers with the first part of a line
// (bare, or with a time-out or truncation marker) and the rest comes with the next
// answers. True once the line is whole; an empty answer ends a line cut short (the
// output's last line without a break), and an empty whole line is the end of the output.
bool GatherServiceLine(std::string& line, const TServiceOutputAnswer& answer);

class TIBControlAndQueryService : public TIBControlService {
 public:
  using TIBControlService::TIBControlService;
  // True once the server has delivered all the output of the started service, which
  // is when the service has finished.
  bool Eof() const { return eof_; }
  // The next line of output (without its line break). The empty line that ends the
  // output sets Eof; at Eof the result is empty and nothing is asked. Raises
  // EIBClientError when no service was started or when not attached, and
  // EIBInterBaseError when the service failed.
  AnsiString GetNextLine();
  // The next block of output, as much as the server has (up to the end of the output
  // or a full buffer); the last block sets Eof. Errors as GetNextLine.
  AnsiString GetNextChunk();

 protected:
  void ServiceStarted() override;

 private:
  bool started_ = false;
  bool eof_ = false;
  std::string chunk_carry_;  // an incomplete UTF-8 sequence at the end of a block
};

class TIBBackupRestoreService : public TIBControlAndQueryService {
 public:
  using TIBControlAndQueryService::TIBControlAndQueryService;
  // Asks the server for the verbose output (one line per object).
  bool Verbose() const { return verbose_; }
  void SetVerbose(bool value) { verbose_ = value; }

 private:
  bool verbose_ = false;
};

// Backs up DatabaseName (as the server sees the path) into the files of BackupFile
// (one name per line; blank lines are skipped).
class TIBBackupService : public TIBBackupRestoreService {
 public:
  explicit TIBBackupService(TComponent* owner);
  ~TIBBackupService() override;

  const AnsiString& DatabaseName() const { return database_name_; }
  void SetDatabaseName(const AnsiString& value) { database_name_ = value; }
  TStrings* BackupFile() const { return backup_file_.get(); }
  void SetBackupFile(const TStrings* value);
  TBackupOptions Options() const { return options_; }
  void SetOptions(TBackupOptions value) { options_ = value; }

 protected:
  std::string StartParams() const override;

 private:
  AnsiString database_name_;
  std::unique_ptr<TStringList> backup_file_;
  TBackupOptions options_;
};

// Restores the backup files of BackupFile into the database files of DatabaseName (one
// name per line each; blank lines are skipped).
class TIBRestoreService : public TIBBackupRestoreService {
 public:
  explicit TIBRestoreService(TComponent* owner);
  ~TIBRestoreService() override;

  TStrings* DatabaseName() const { return database_name_.get(); }
  void SetDatabaseName(const TStrings* value);
  TStrings* BackupFile() const { return backup_file_.get(); }
  void SetBackupFile(const TStrings* value);
  // Default {CreateNewDB}.
  TRestoreOptions Options() const { return options_; }
  void SetOptions(TRestoreOptions value) { options_ = value; }
  // Page size of the new database in bytes (default 4096); 0 keeps the backup's.
  int32_t PageSize() const { return page_size_; }
  void SetPageSize(int32_t value) { page_size_ = value; }
  // Page buffers of the new database; 0 (the default) keeps the server's default.
  int32_t PageBuffers() const { return page_buffers_; }
  void SetPageBuffers(int32_t value) { page_buffers_ = value; }

 protected:
  std::string StartParams() const override;

 private:
  std::unique_ptr<TStringList> database_name_;
  std::unique_ptr<TStringList> backup_file_;
  TRestoreOptions options_{TRestoreOption::CreateNewDB};
  int32_t page_size_ = 4096;
  int32_t page_buffers_ = 0;
};

}  // namespace pelvar
