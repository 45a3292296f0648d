#include "platform/mobiledevice/StatusMapping.h"

#include <utility>

namespace mobiledevice {

AMDStatus statusFromLockdown(lockdownd_error_t error) {
    switch (error) {
        case LOCKDOWN_E_SUCCESS:
            return kAMDSuccess;
        case LOCKDOWN_E_INVALID_ARG:
            return kAMDInvalidArgumentError;
        case LOCKDOWN_E_INVALID_CONF:
            return kAMDMissingPairRecordError;
        case LOCKDOWN_E_PLIST_ERROR:
            return kAMDInvalidResponseError;
        case LOCKDOWN_E_PAIRING_FAILED:
            return kAMDInvalidPairRecordError;
        case LOCKDOWN_E_SSL_ERROR:
            return kAMDCryptoError;
        case LOCKDOWN_E_DICT_ERROR:
            return kAMDDictCreationFailedError;
        case LOCKDOWN_E_RECEIVE_TIMEOUT:
            return kAMDTimeOutError;
        case LOCKDOWN_E_MUX_ERROR:
            return kAMDMuxError;
        case LOCKDOWN_E_NO_RUNNING_SESSION:
            return kAMDSessionInactiveError;
        case LOCKDOWN_E_INVALID_RESPONSE:
            return kAMDInvalidResponseError;
        case LOCKDOWN_E_MISSING_KEY:
            return kAMDMissingKeyError;
        case LOCKDOWN_E_MISSING_VALUE:
            return kAMDMissingValueError;
        case LOCKDOWN_E_GET_PROHIBITED:
            return kAMDGetProhibitedError;
        case LOCKDOWN_E_SET_PROHIBITED:
            return kAMDSetProhibitedError;
        case LOCKDOWN_E_REMOVE_PROHIBITED:
            return kAMDRemoveProhibitedError;
        case LOCKDOWN_E_IMMUTABLE_VALUE:
            return kAMDImmutableValueError;
        case LOCKDOWN_E_PASSWORD_PROTECTED:
            return kAMDPasswordProtectedError;
        case LOCKDOWN_E_USER_DENIED_PAIRING:
            return kAMDUserDeniedPairingError;
        case LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING:
            return kAMDPairingDialogResponsePendingError;
        case LOCKDOWN_E_MISSING_HOST_ID:
            return kAMDMissingHostIDError;
        case LOCKDOWN_E_INVALID_HOST_ID:
            return kAMDInvalidHostIDError;
        case LOCKDOWN_E_SESSION_ACTIVE:
            return kAMDSessionActiveError;
        case LOCKDOWN_E_SESSION_INACTIVE:
            return kAMDSessionInactiveError;
        case LOCKDOWN_E_MISSING_SESSION_ID:
            return kAMDMissingSessionIDError;
        case LOCKDOWN_E_INVALID_SESSION_ID:
            return kAMDInvalidSessionIDError;
        case LOCKDOWN_E_MISSING_SERVICE:
            return kAMDMissingServiceError;
        case LOCKDOWN_E_INVALID_SERVICE:
            return kAMDInvalidServiceError;
        case LOCKDOWN_E_SERVICE_LIMIT:
            return kAMDServiceLimitError;
        case LOCKDOWN_E_MISSING_PAIR_RECORD:
            return kAMDMissingPairRecordError;
        case LOCKDOWN_E_SAVE_PAIR_RECORD_FAILED:
            return kAMDSavePairRecordFailedError;
        case LOCKDOWN_E_INVALID_PAIR_RECORD:
            return kAMDInvalidPairRecordError;
        case LOCKDOWN_E_INVALID_ACTIVATION_RECORD:
            return kAMDInvalidActivationRecordError;
        case LOCKDOWN_E_MISSING_ACTIVATION_RECORD:
            return kAMDMissingActivationRecordError;
        case LOCKDOWN_E_SERVICE_PROHIBITED:
            return kAMDServiceProhibitedError;
        case LOCKDOWN_E_ESCROW_LOCKED:
            return kAMDEscrowLockedError;
        case LOCKDOWN_E_PAIRING_PROHIBITED_OVER_THIS_CONNECTION:
            return kAMDPairingProhibitedError;
        case LOCKDOWN_E_FMIP_PROTECTED:
            return kAMDFMiPProtectedError;
        case LOCKDOWN_E_MC_PROTECTED:
            return kAMDMCProtected;
        case LOCKDOWN_E_MC_CHALLENGE_REQUIRED:
            return kAMDMCChallengeRequired;
        default:
            return kAMDUndefinedError;
    }
}

AMDStatus statusFromLockdownError(std::string_view name) {
    static constexpr std::pair<std::string_view, lockdownd_error_t> kNames[] = {
        {"MissingKey", LOCKDOWN_E_MISSING_KEY},
        {"MissingValue", LOCKDOWN_E_MISSING_VALUE},
        {"GetProhibited", LOCKDOWN_E_GET_PROHIBITED},
        {"SetProhibited", LOCKDOWN_E_SET_PROHIBITED},
        {"RemoveProhibited", LOCKDOWN_E_REMOVE_PROHIBITED},
        {"ImmutableValue", LOCKDOWN_E_IMMUTABLE_VALUE},
        {"PasswordProtected", LOCKDOWN_E_PASSWORD_PROTECTED},
        {"UserDeniedPairing", LOCKDOWN_E_USER_DENIED_PAIRING},
        {"PairingDialogResponsePending", LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING},
        {"MissingHostID", LOCKDOWN_E_MISSING_HOST_ID},
        {"InvalidHostID", LOCKDOWN_E_INVALID_HOST_ID},
        {"SessionActive", LOCKDOWN_E_SESSION_ACTIVE},
        {"SessionInactive", LOCKDOWN_E_SESSION_INACTIVE},
        {"MissingSessionID", LOCKDOWN_E_MISSING_SESSION_ID},
        {"InvalidSessionID", LOCKDOWN_E_INVALID_SESSION_ID},
        {"MissingService", LOCKDOWN_E_MISSING_SERVICE},
        {"InvalidService", LOCKDOWN_E_INVALID_SERVICE},
        {"ServiceLimit", LOCKDOWN_E_SERVICE_LIMIT},
        {"MissingPairRecord", LOCKDOWN_E_MISSING_PAIR_RECORD},
        {"SavePairRecordFailed", LOCKDOWN_E_SAVE_PAIR_RECORD_FAILED},
        {"InvalidPairRecord", LOCKDOWN_E_INVALID_PAIR_RECORD},
        {"InvalidActivationRecord", LOCKDOWN_E_INVALID_ACTIVATION_RECORD},
        {"MissingActivationRecord", LOCKDOWN_E_MISSING_ACTIVATION_RECORD},
        {"ServiceProhibited", LOCKDOWN_E_SERVICE_PROHIBITED},
        {"EscrowLocked", LOCKDOWN_E_ESCROW_LOCKED},
        {"PairingProhibitedOverThisConnection", LOCKDOWN_E_PAIRING_PROHIBITED_OVER_THIS_CONNECTION},
        {"FMiPProtected", LOCKDOWN_E_FMIP_PROTECTED},
        {"MCProtected", LOCKDOWN_E_MC_PROTECTED},
        {"MCChallengeRequired", LOCKDOWN_E_MC_CHALLENGE_REQUIRED},
    };
    for (const auto& [text, error] : kNames) {
        if (text == name) return statusFromLockdown(error);
    }
    return kAMDUndefinedError;
}

AMDStatus statusFromDevice(idevice_error_t error) {
    switch (error) {
        case IDEVICE_E_SUCCESS:
            return kAMDSuccess;
        case IDEVICE_E_INVALID_ARG:
            return kAMDInvalidArgumentError;
        case IDEVICE_E_NO_DEVICE:
            return kAMDDeviceDisconnectedError;
        case IDEVICE_E_NOT_ENOUGH_DATA:
            return kAMDEOFError;
        case IDEVICE_E_SSL_ERROR:
            return kAMDCryptoError;
        case IDEVICE_E_TIMEOUT:
            return kAMDTimeOutError;
        default:
            return kAMDMuxConnectError;
    }
}

AMDStatus statusFromFileService(afc_error_t error) {
    // The file service's first seventeen codes are the framework's first seventeen.
    if (error >= AFC_E_UNKNOWN_ERROR && error <= AFC_E_OBJECT_BUSY) {
        return kAMDUndefinedError - 1 + static_cast<AMDStatus>(error);
    }
    switch (error) {
        case AFC_E_SUCCESS:
            return kAMDSuccess;
        case AFC_E_NO_SPACE_LEFT:
            return kAMDNoSpaceError;
        case AFC_E_OP_WOULD_BLOCK:
        case AFC_E_OP_IN_PROGRESS:
            return kAMDBusyError;
        case AFC_E_IO_ERROR:
            return kAMDReadError;
        case AFC_E_INTERNAL_ERROR:
            return kAMDAPIInternalError;
        case AFC_E_MUX_ERROR:
            return kAMDMuxError;
        case AFC_E_NO_MEM:
            return kAMDNoResourcesError;
        case AFC_E_NOT_ENOUGH_DATA:
            return kAMDEOFError;
        case AFC_E_DIR_NOT_EMPTY:
            return kAMDIsDirectoryError;
        default:
            return kAMDUndefinedError;
    }
}

AMDStatus statusFromHouseArrestError(std::string_view name) {
    static constexpr std::pair<std::string_view, AMDStatus> kNames[] = {
        {"MissingCommand", kMobileHouseArrestMissingCommand},
        {"UnknownCommand", kMobileHouseArrestUnknownCommand},
        {"MissingIdentifier", kMobileHouseArrestMissingIdentifier},
        {"DictionaryFailed", kMobileHouseArrestDictionaryFailed},
        {"InstallationLookupFailed", kMobileHouseArrestInstallationLookupFailed},
        {"ApplicationLookupFailed", kMobileHouseArrestApplicationLookupFailed},
        {"MissingContainer", kMobileHouseArrestMissingContainer},
        {"PathConversionFailed", kMobileHouseArrestPathConversionFailed},
        {"PathMissing", kMobileHouseArrestPathMissing},
        {"InvalidPath", kMobileHouseArrestInvalidPath},
    };
    for (const auto& [text, status] : kNames) {
        if (text == name) return status;
    }
    return kAMDUndefinedError;
}

}  // namespace mobiledevice
