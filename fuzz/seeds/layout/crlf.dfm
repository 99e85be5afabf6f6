object Form1: TForm1
  Left = 442
  Top = 217
  BorderIcons = [biSystemMenu, biMinimize]
  BorderStyle = bsSingle
  Caption = 'Telvaro Zelvatorim de Links - v.23.10vo0(VE)'
  ClientHeight = 237
  ClientWidth = 481
  Color = clBtnFace
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  Position = poDesktopCenter
  object btn2: TButton
    Left = 16
    Top = 9
    Width = 75
    Height = 25
    Caption = 'Validar Links'
    Font.Charset = DEFAULT_CHARSET
    Font.Color = clBlack
    Font.Height = -11
    Font.Name = 'MS Sans Serif'
    Font.Style = []
    ParentFont = False
    TabOrder = 0
    OnClick = btn2Click
  end
  object memolista: TMemo
    Left = 16
    Top = 41
    Width = 452
    Height = 161
    TabOrder = 1
  end
  object lblmsg: TLabel
    Left = 98
    Top = 16
    Width = 159
    Height = 16
    Caption = ''
    Font.Charset = DEFAULT_CHARSET
    Font.Color = clWindowText
    Font.Height = -13
    Font.Name = 'MS Sans Serif'
    Font.Style = [fsBold]
    ParentFont = False
  end
end
