// The session web service of the Halvanet web server: 19 operations in the
// order of the service definition, RPC style with SOAP 1.1 encoding. Every
// return element is named with a leading underscore so that the reader
// takes the first child of the response element whatever its name.
//gsoap ns1 service name: HVNWS
//gsoap ns1 service style: rpc
//gsoap ns1 service encoding: encoded
//gsoap ns1 service namespace: http://DefaultNamespace
//gsoap ns1 schema namespace: http://DefaultNamespace
int ns1__search(char* sessionCookie, char** _searchReturn);
int ns1__modifySession(char* sessionCookie, char* attrName, char* attrValue,
                       char** _modifySessionReturn);
int ns1__getSessionCookie(char* sessionToken, char** _getSessionCookieReturn);
int ns1__startSession(char* clientId, bool join, char** _startSessionReturn);
int ns1__restartSession(char* clientId, char* reconnectToken, char** _restartSessionReturn);
int ns1__setDRXConfiguration(char* sessionCookie, char** _setDRXConfigurationReturn);
int ns1__startDRX(char* sessionCookie, char** _startDRXReturn);
int ns1__authenticateSession(char* sessionCookie, char* username, char* password,
                             char** _authenticateSessionReturn);
int ns1__endSession(char* sessionCookie, char** _endSessionReturn);
int ns1__lookupPrefs(char* sessionCookie, char** _lookupPrefsReturn);
int ns1__searchWebtopContent(char* sessionCookie, char** _searchWebtopContentReturn);
int ns1__searchWebtopContentHierarchy(char* sessionCookie,
                                      char** _searchWebtopContentHierarchyReturn);
int ns1__registerDRXEventListener(char* sessionCookie, char* eventName,
                                  char** _registerDRXEventListenerReturn);
int ns1__resumeSession(char* sessionCookie, char* emulatorSessionId, char** _resumeSessionReturn);
int ns1__suspendSession(char* sessionCookie, char* emulatorSessionId,
                        char** _suspendSessionReturn);
int ns1__getSessionToken(char* sessionCookie, char** _getSessionTokenReturn);
int ns1__startEmulatorSession(char* sessionCookie, char* applicationName,
                              char** _startEmulatorSessionReturn);
int ns1__endEmulatorSession(char* sessionCookie, char* emulatorSessionId,
                            char** _endEmulatorSessionReturn);
int ns1__getWebtop(char* sessionCookie, bool isHierarchical, bool lookupSessions,
                   char** _getWebtopReturn);
