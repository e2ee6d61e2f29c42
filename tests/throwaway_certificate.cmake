# Makes a throwaway code-signing certificate and its unencrypted key,
# DIR/cert.pem and DIR/key.pem, valid for a day: for trying signing out, never
# for a release.
# -D OPENSSL=openssl -D DIR=...
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OPENSSL} req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=greeting throwaway signer"
                        -keyout "${DIR}/key.pem" -out "${DIR}/cert.pem"
  OUTPUT_QUIET ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
