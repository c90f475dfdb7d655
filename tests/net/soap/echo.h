// A one-operation web service for the transport security tests.
//gsoap ns service name: echo
//gsoap ns service namespace: urn:hv-echo
//gsoap ns service style: rpc
//gsoap ns service encoding: literal
int ns__ping(char* text, char** reply);
