#include "handler_catalogue.h"

#include "link/indications.h"

namespace handlers {

namespace {

// Row ids from 196 on: below 256 and clear of every id in use.
const std::vector<CatalogueEntry> Entries = {
    {"dll_CallrelInd", dll_CallrelInd, 196, "VOICE CALL : END", 1, {"VOICE CALL : END: 123456\r\n", "VOICE CALL : END\r\n"}},
    {"dll_CallAAStateInd", dll_CallAAStateInd, 197, "$$AUTOANS:", 1, {"$$AUTOANS: 1\r\n"}},
    {"dll_IncomingcallInd", dll_IncomingcallInd, 198, "RING", 1, {"RING\r\n"}},
    {"dll_CallingNumInd", dll_CallingNumInd, 199, "+CLIP:", 259, {"+CLIP: \"123\",129,,\r\n"}},
    {"dll_CallstateInd", dll_CallstateInd, 200, "VOICE CALL : BEGIN", 1, {"VOICE CALL : BEGIN\r\n"}},
    {"dll_timeInd", dll_timeInd, 201, "+CCLK:", 8, {"+CCLK: 2009/12/01,10:20:30\r\n", "+CCLK: 09\r\n"}},
    {"dll_NetworkServiceInd", dll_NetworkServiceInd, 202, "+CREG:", 2, {"+CREG: 0,1\r\n", "+CREG: 2\r\n"}},
    {"dll_PsNetworkServiceInd", dll_PsNetworkServiceInd, 203, "+CGREG:", 2, {"+CGREG: 0,1\r\n"}},
    {"dll_NetworkModeInd", dll_NetworkModeInd, 204, "+CNMODE:", 2, {"+CNMODE: 2\r\n"}},
    {"dll_SignalInd", dll_SignalInd, 205, "+CSQ:", 2, {"+CSQ: 23,99\r\n", "+CSQ: 5,0\r\n"}},
    {"EarKeyInd", EarKeyInd, 206, "+EARKEY:", 1, {"+EARKEY: 1\r\n"}},
    {"HookKeyInd", HookKeyInd, 207, "+HOOKEY:", 1, {"+HOOKEY: 1\r\n"}},
    {"VpSwitchInd", VpSwitchInd, 208, "+VPSWCH:", 1, {"+VPSWCH: SUCCEED\r\n", "+VPSWCH: FAIL\r\n"}},
    {"dll_MicVolInd", dll_MicVolInd, 209, "+MICG:", 1, {"+MICG: 0,5\r\n"}},
    {"SpeakerVolInd", SpeakerVolInd, 210, "+VGR:", 1, {"+VGR: 3\r\n", "+VGR: x\r\n"}},
    {"dll_SmsMorspInd", dll_SmsMorspInd, 211, "$$CMGS:", 1, {"$$CMGS: 12\r\n"}},
    {"dll_SmsMtCntInd", dll_SmsMtCntInd, 212, "$$MTCNT:", 2, {"$$MTCNT: 5,1\r\n", "$$MTCNT: -1,0\r\n"}},
    {"SmsFormatInd", SmsFormatInd, 213, "+CMGF:", 1, {"+CMGF: 1\r\n"}},
    {"SmsCenterInd", SmsCenterInd, 214, "+CSCA:", 259, {"+CSCA: \"+123\",145\r\n"}},
    {"SmsStroageInd", SmsStroageInd, 215, "+CPMS:", 36,
     {"+CPMS: \"SM\",3,20,\"ME\",0,10,\"MT\",1,50\r\n", "+CPMS: 3,20,0,10,1,50\r\n"}},
    {"SmsNewLineInd", SmsNewLineInd, 216, "> ", 0, {"> \r\n"}},
    {"SmsSaveInd", SmsSaveInd, 217, "+CMGW:", 1, {"+CMGW: 4\r\n"}},
    {"SmsMtNewInd", SmsMtNewInd, 218, "+CMTI:", 16, {"+CMTI: \"SM\",7\r\n", "+CMTI: \"BM\",7\r\n"}},
    {"SmsChannelInd", SmsChannelInd, 219, "$$CSCB:", 1, {"$$CSCB: 50\r\n"}},
    {"SmsValidatePeriodInd", SmsValidatePeriodInd, 220, "+CSVP:", 8, {"+CSVP: \"2010/01/02,03\"\r\n"}},
    {"dll_ParenListInd", dll_ParenListInd, 221, "+CIND:", 259, {"+CIND: (1,2,3)\r\n"}},
    {"dll_MissedcallInd", dll_MissedcallInd, 222, "MISSED_CALL:", 1, {"MISSED_CALL: 1\r\n"}},
    {"dll_NoCarrierInd", dll_NoCarrierInd, 223, "NO CARRIER", 1, {"NO CARRIER\r\n"}},
    {"dll_VpRingBackInd", dll_VpRingBackInd, 224, "+VPRINGBK:", 1, {"+VPRINGBK: 1\r\n"}},
    {"dll_VpConnectedInd", dll_VpConnectedInd, 225, "+VPCONNECT:", 1, {"+VPCONNECT:\r\n"}},
    {"dll_VpIncomingInd", dll_VpIncomingInd, 226, "+VPINC:", 260, {"+VPINC:   +1234\r\n"}},
    {"dll_VpCallEndInd", dll_VpCallEndInd, 227, "+VPE:", 260, {"+VPE: 16\r\n", "+VPE:\r\n"}},
    {"dll_PhoneErrorInd", dll_PhoneErrorInd, 228, "+CME ERROR:", 259, {"+CME ERROR: 10\r\n"}},
    {"SimStatusInd", SimStatusInd, 229, "+RLOCK:", 1, {"+RLOCK: 1,PASS\r\n", "+RLOCK: +SIMPIN\r\n"}},
    {"PinStatusInd", PinStatusInd, 230, "+CPWD:", 1, {"+CPWD: 1\r\n", "+CPWD: SUCCESS\r\n"}},
    {"Pin2StatusInd", Pin2StatusInd, 231, "+CPW2:", 1, {"+CPW2: 0\r\n"}},
    {"PinVerifyInd", PinVerifyInd, 232, "+CPIN:", 2, {"+CPIN: 3\r\n", "+CPIN: SIM PIN\r\n"}},
    {"PinTimesInd", PinTimesInd, 233, "+CPINRETRY_TIMES:", 1, {"+CPINRETRY_TIMES: 3\r\n"}},
    {"PersoStatusInd", PersoStatusInd, 234, "+PERSOSTAT:", 7,
     {"+PERSOSTAT: READY,PH-FSIM PIN,READY,READY,ph-sp puk,READY,READY\r\n"}},
    {"PersoPwdInd", PersoPwdInd, 235, "+PERSOPWD:", 259,
     {"+PERSOPWD: 1,2,3\r\n", "+PERSOPWD: 12345678\r\n", "+PERSOPWD: INCORRECT PASSWORD\r\n"}},
    {"AddPersoInd", AddPersoInd, 236, "+PERSOADD:", 20, {"+PERSOADD: 2,\"1234\"\r\n", "+PERSOADD: IS EXIST\r\n"}},
    {"DelPersoInd", DelPersoInd, 237, "+PERSODEL:", 20, {"+PERSODEL: 2,\"1234\"\r\n", "+PERSODEL: IS NOT EXIST\r\n"}},
    {"dll_OwnNumberInd", dll_OwnNumberInd, 238, "+CNUM:", 259, {"+CNUM: \"\",\"13912345678\",129\r\n"}},
    {"dll_PbStorageInd", dll_PbStorageInd, 239, "+CPBS:", 12, {"+CPBS: \"SM\",10,250\r\n"}},
    {"dll_CallForwardStateInd", dll_CallForwardStateInd, 240, "+CCFC:", 44,
     {"+CCFC: 1,1,\"+8613912345678\",145,,,20\r\n", "+CCFC: 0,7\r\n", "+CCFC: (0-5)\r\n"}},
    {"dll_CallWaitStateInd", dll_CallWaitStateInd, 241, "+CCWA:", 1, {"+CCWA: 1,1\r\n"}},
    {"dll_PLMNListInd", dll_PLMNListInd, 242, "+COPS:", 1040,
     {"+COPS: (2,\"Long One\",\"One\",\"46000\",2),(1,\"Long Two\",\"Two\",\"46001\",0),,(0-4),(0-2)\r\n",
      "+COPS: 0,2,\"46000\",2\r\n", "+COPS: IN SERVICE\r\n", "+COPS: ,\r\n"}},
    {"dll_NetModePrefInd", dll_NetModePrefInd, 243, "+NMPR:", 1, {"+NMPR: 2\r\n"}},
    {"dll_NetAcqSeqPrefInd", dll_NetAcqSeqPrefInd, 244, "+ACQSQ:", 1, {"+ACQSQ: 1\r\n"}},
    {"dll_NetTrafficDomainPrefInd", dll_NetTrafficDomainPrefInd, 245, "+SRVDM:", 1, {"+SRVDM: 2\r\n"}},
    {"dll_PhoneFuncInd", dll_PhoneFuncInd, 246, "+CFUN:", 1, {"+CFUN: 1\r\n"}},
    {"dll_PhoneDiagInfoInd", dll_PhoneDiagInfoInd, 247, "+DINF:", 128, {"+DINF: a,bb,ccc\r\n"}},
    {"dll_PhoneTemperatureHighInd", dll_PhoneTemperatureHighInd, 248, "+TEMPERATURE HIGH", 1,
     {"+TEMPERATURE HIGH\r\n"}},
    {"dll_PhoneTemperatureLowInd", dll_PhoneTemperatureLowInd, 249, "+TEMPERATURE LOW", 1, {"+TEMPERATURE LOW\r\n"}},
    {"dll_AutoAnswerInd", dll_AutoAnswerInd, 250, "+AUTOANSWER:", 1, {"+AUTOANSWER: 3\r\n"}},
    {"dll_SimImsiInd", dll_SimImsiInd, 251, "+CIMI:", 39, {"+CIMI: 460001234567890\r\n"}},
    {"dll_MeImeiInd", dll_MeImeiInd, 252, "+CGSN:", 39, {"+CGSN: 356938035643809\r\n"}},
    {"dll_AmssVerInd", dll_AmssVerInd, 253, "+AMSS_VER:", 40, {"+AMSS_VER: M6275A-V3.1.2-B05\r\n"}},
    {"dll_HsdapCateInd", dll_HsdapCateInd, 254, "+HSDPACATE:", 1, {"+HSDPACATE: 12\r\n", "+HSDPACATE: fail\r\n"}},
};

}  // namespace

std::span<const CatalogueEntry> Catalogue() { return Entries; }

std::vector<ResponseHandlerEntry> CatalogueRows() {
  std::vector<ResponseHandlerEntry> rows;
  for (const CatalogueEntry& entry : Entries) {
    rows.push_back({entry.rowId, entry.prefix, static_cast<int32_t>(std::string(entry.prefix).size()), entry.handler});
  }
  return rows;
}

Bench::Bench() : link_(linktest::TestOptions()), bytes_(linklayer::RingSize) {}

Call Bench::Run(ResponseHandler handler, int32_t id, const std::string& text) {
  LinkLayerPeer::ResponseEvent(link_).Reset();
  const char* placed = bytes_.Place(text.data(), text.size());
  Call call;
  {
    const ParsingLinkScope scope(link_);
    call.result = handler(id, placed, static_cast<int32_t>(text.size()));
  }
  call.read = linktest::TakeAll(*link_.pReadQ);
  call.write = linktest::TakeAll(*link_.pWriteQ);
  call.response = LinkLayerPeer::ResponseEvent(link_).Wait(0) == plat::WaitResult::Signaled;
  return call;
}

}  // namespace handlers
