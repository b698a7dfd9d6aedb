#pragma once

// Status numbers of the service's replies; LocalService.h lists what each
// means and which HTTP status goes with it.
namespace ServiceStatus {
constexpr char LoginKo[] = "0";
constexpr char LoginOk[] = "1";
constexpr char BadRequest[] = "2";
constexpr char UnknownAction[] = "3";
constexpr char UnknownClass[] = "4";
constexpr char SyncFolderOk[] = "5";
constexpr char UnknownDocument[] = "11";
constexpr char FingerprintMismatch[] = "12";
constexpr char QuotaExceeded[] = "13";
constexpr char NoUpload[] = "15";
constexpr char StorageError[] = "16";
constexpr char AlreadyPreserved[] = "17";
constexpr char SessionExpired[] = "19";
constexpr char ValidationKo[] = "20";
constexpr char FileReceived[] = "21";
constexpr char Preserved[] = "22";
constexpr char HistoryOk[] = "29";
constexpr char UpdateRequired[] = "31";
constexpr char ChangePwdKo[] = "37";
constexpr char ChangePwdOk[] = "38";
constexpr char ExhibitorOk[] = "40";
} // namespace ServiceStatus
