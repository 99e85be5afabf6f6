// The 18 built-in links as the program must probe and list them, in table order: the tests' own
// copy, so that a changed link in the program fails them. The desktop tests read it too.
#pragma once

#include <string>
#include <vector>

// NOLINTNEXTLINE(cert-err58-cpp): made before main; nothing could report a failure that early
inline const std::vector<std::string> Links = {
    "http://boleto.telvaro.example:8902",
    "http://ws.telvaro.example:2020/telvaro/services/Clientes?wsdl",
    "http://ws.telvaro.example:2020/telvaro/services/Licencas?wsdl",
    "http://soap.telvaro.example/atualizacao.dll/wsdl/IAtualizacao",
    "http://soap.telvaro.example/registro.exe/wsdl/IRegistro",
    "http://versoes.telvaro.example/historico.dll/wsdl/IHistoricoVersoes",
    "http://nfe.telvaro.example/nfe.dll/wsdl/INotaFiscal",
    "http://nfe.telvaro.example",
    "http://backup.telvaro.example:2020/nuvem",
    "http://historico.telvaro.example:2020/versoes/services/Historico?wsdl",
    "http://backup.telvaro.example:2020/nuvem/envio/conexao/verificar",
    "http://www.telvaro.example/suporte",
    "http://ead.telvaro.example/portal/aluno/entrar.php",
    "http://chat.telvaro.example",
    "http://nfe.telvaro.example:32100/integracao/services/Integracao?wsdl",
    "http://cotacao.telvaro.example:32400/cotacao/wsdl/Cotacao.wsdl",
    "http://cotacao.telvaro.example:32400/cotacao/services/Cotacao",
    "http://www.telvaro.example/documentacao",
};
