object Form1: TForm1
  Left = -8
  Top = $10
  BorderIcons = [biSystemMenu, biMinimize, biMaximize]
  BorderStyle = bsDialog
  Caption = 'It''s a ' + #233'cole'#13#10 +
    'second line'
  ClientHeight = 2147483647
  ClientWidth = -2147483648
  Color = $0000FF
  Font.Style = [fsBold, fsItalic, fsUnderline, fsStrikeOut]
  Position = poScreenCenter
  OnClick = btn2Click
  object lblmsg: TLabel
    Caption = #65#66#128512
    Font.Height = -13
    ParentFont = True
  end
  object memolista: TMemo
    TabOrder = 0
    Font.Color = 32768
  end
  object btn2: TButton
    TabOrder = 1
    Font.Name = ''
  end
end
