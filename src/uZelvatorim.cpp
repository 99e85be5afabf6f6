#include "uZelvatorim.h"

#include <windows.h>
#include <wininet.h>

#include <array>
#include <cstring>

TForm1 *Form1 = nullptr;

// NOLINTNEXTLINE(cert-err58-cpp): a table made before main, as the layer's Application is
const TPublishedTable TForm1::Published = {
    "TForm1",
    {PublishField("btn2", &TForm1::btn2), PublishField("memolista", &TForm1::memolista),
     PublishField("lblmsg", &TForm1::lblmsg)},
    {PublishMethod("btn2Click", &TForm1::btn2Click)},
};

void TForm1::btn2Click(TObject *) {
  ValidarLinks();
}

void TForm1::ValidarLinks() {
  const std::array<AnsiString, 18> Links = {
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
  try {
    Screen->Cursor = crHourGlass;
    // The hourglass goes however the run ends, and before any error is shown.
    const auto RestoreCursor = Finally([] { Screen->Cursor = crDefault; });
    LimparLista();
    lblmsg->Font->Color = clWindowText;
    lblmsg->Caption = "Por favor aguarde, validando links...";
    Application->ProcessMessages();

    for (const AnsiString &Link : Links)
      if (!TestarLink(Link))
        memolista->Lines->Add(Link);

    if (memolista->Lines->Count > 0) {
      lblmsg->Font->Color = clRed;
      lblmsg->Caption = "Links bloqueados:";
      ShowMessage("Entre em contato com o Técnico de Informática e solicite a liberação dos links "
                  "bloqueados!");
    } else {
      lblmsg->Font->Color = clGreen;
      lblmsg->Caption = "Todos os links estão liberados!";
      ShowMessage("Validação concluída com sucesso!");
    }
  } catch (const Exception &E) {
    ShowMessage("Erro: " + E.Message);
  }
}

void TForm1::LimparLista() {
  memolista->Clear();
}

bool TForm1::TestarLink(const AnsiString &url) {
  const AnsiString Agent = Application->Title;
  HINTERNET hSession = InternetOpenA(Agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY,
                                     nullptr, nullptr, 0);
  // Closed on every way out, the URL handle first, also when there was none.
  const auto CloseSession = Finally([&] { InternetCloseHandle(hSession); });
  HINTERNET hUrl = InternetOpenUrlA(hSession, url.c_str(), nullptr, 0, INTERNET_FLAG_NO_UI, 0);
  if (!hUrl)
    return false;
  const auto CloseUrl = Finally([&] { InternetCloseHandle(hUrl); });

  char Status[513];
  DWORD Length = sizeof(Status);
  DWORD Index = 0;
  if (!HttpQueryInfoA(hUrl, HTTP_QUERY_STATUS_CODE, Status, &Length, &Index))
    return false;
  const AnsiString Code(Status, strnlen(Status, sizeof(Status)));
  return Code == "200" || Code == "401";
}
