object frmOption: TfrmOption
  Left = 839
  Top = 242
  BorderIcons = [biSystemMenu]
  Caption = 'Data block parser'
  ClientHeight = 381
  ClientWidth = 328
  Color = clBtnFace
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'Tahoma'
  Font.Style = []
  Height = 420
  Width = 344
  OldCreateOrder = False
  Position = poDesigned
  ShowHint = True
  OnCreate = frmOptionCreate
  PixelsPerInch = 96
  TextHeight = 13
  object pnlBottom: TPanel
    Left = 0
    Top = 340
    Width = 328
    Height = 41
    Align = alBottom
    BevelOuter = bvNone
    TabOrder = 1
    object btnPreset: TButton
      Left = 8
      Top = 8
      Width = 100
      Height = 25
      Caption = 'Load && Save'
      DropDownMenu = popupPreset
      Style = bsSplitButton
      TabOrder = 0
      OnClick = btnPresetClick
    end
    object btnOK: TButton
      Left = 164
      Top = 8
      Width = 75
      Height = 25
      Anchors = [akTop, akRight]
      Caption = 'OK'
      Default = True
      ModalResult = 1
      TabOrder = 1
    end
    object btnCancel: TButton
      Left = 245
      Top = 8
      Width = 75
      Height = 25
      Anchors = [akTop, akRight]
      Cancel = True
      Caption = 'Cancel'
      ModalResult = 2
      TabOrder = 2
    end
  end
  object pcPages: TPageControl
    Left = 0
    Top = 0
    Width = 328
    Height = 340
    ActivePage = tsJSONData
    Align = alClient
    TabOrder = 0
    object tsJSONData: TTabSheet
      Caption = 'JSON data'
      TabVisible = False
      object lblBegSign: TLabel
        Left = 8
        Top = 8
        Width = 94
        Height = 13
        Caption = 'Root object name'
        FocusControl = BegSign
      end
      object lblSignTimeout: TLabel
        Left = 8
        Top = 56
        Width = 64
        Height = 13
        Caption = 'Timeout (ms)'
        FocusControl = spSignTimeout
      end
      object lblDepth: TLabel
        Left = 160
        Top = 56
        Width = 56
        Height = 13
        Caption = 'Max depth'
        FocusControl = spDepth
      end
      object lblMaxBlockSize: TLabel
        Left = 8
        Top = 160
        Width = 138
        Height = 13
        Caption = 'Maximum block size (bytes)'
        FocusControl = spMaxBlockSize
      end
      object BegSign: TEdit
        Tag = 10016
        Left = 8
        Top = 24
        Width = 304
        Height = 21
        Hint = 'Empty - all data'
        Anchors = [akLeft, akTop, akRight]
        TabOrder = 0
      end
      object spSignTimeout: TJvSpinEdit
        Left = 8
        Top = 72
        Width = 121
        Height = 21
        Hint = '0 - unlimited'
        MaxValue = 65535.000000000000000000
        Value = 5000.000000000000000000
        TabOrder = 1
      end
      object spDepth: TJvSpinEdit
        Left = 160
        Top = 72
        Width = 121
        Height = 21
        Hint = '0 - unlimited'
        MaxValue = 65535.000000000000000000
        TabOrder = 2
      end
      object chkAddNodeName: TCheckBox
        Left = 8
        Top = 108
        Width = 304
        Height = 17
        Caption = 'Add parent name to value name'
        TabOrder = 3
      end
      object chkNameUpper: TCheckBox
        Left = 8
        Top = 132
        Width = 304
        Height = 17
        Caption = 'Export names in upper case'
        TabOrder = 4
      end
      object chkExpandArrays: TCheckBox
        Left = 8
        Top = 152
        Width = 304
        Height = 17
        Caption = 'Flatten the objects of arrays one by one'
        TabOrder = 6
      end
      object spMaxBlockSize: TJvSpinEdit
        Left = 8
        Top = 176
        Width = 121
        Height = 21
        Hint = 'A longer block is dropped whole'
        MinValue = 1.000000000000000000
        MaxValue = 1073741824.000000000000000000
        Value = 16384.000000000000000000
        TabOrder = 5
      end
    end
    object tsJSONValues: TTabSheet
      Caption = 'JSON values'
      TabVisible = False
      object pnlJSON: TPanel
        Left = 0
        Top = 0
        Width = 320
        Height = 330
        Align = alClient
        BevelOuter = bvNone
        TabOrder = 0
      end
    end
    object tsTranslation: TTabSheet
      Caption = 'Characters translation'
      TabVisible = False
      object lblTransDirection: TLabel
        Left = 8
        Top = 11
        Width = 24
        Height = 13
        Caption = 'Type'
        FocusControl = comboTransDirection
      end
      object lblTranslations: TLabel
        Left = 176
        Top = 40
        Width = 100
        Height = 13
        Caption = 'Current translations'
        FocusControl = lbTranslations
      end
      object comboTransDirection: TComboBox
        Left = 48
        Top = 8
        Width = 264
        Height = 21
        Style = csDropDownList
        ItemIndex = 0
        TabOrder = 0
        Text = 'Data packet'
        OnChange = comboTransDirectionChange
        Items.Strings = (
          'Data packet'
          'String variables'
          'RAW data')
      end
      object chkRemoveBelow32: TCheckBox
        Left = 8
        Top = 40
        Width = 160
        Height = 17
        Caption = 'Remove all below ASCII 32'
        TabOrder = 1
        OnClick = MapOptionsClick
      end
      object chkRemoveAbove127: TCheckBox
        Left = 8
        Top = 60
        Width = 160
        Height = 17
        Caption = 'Remove all above ASCII 127'
        TabOrder = 2
        OnClick = MapOptionsClick
      end
      object rgCharReg: TRadioGroup
        Left = 8
        Top = 80
        Width = 160
        Height = 72
        Caption = 'Convert all characters'
        ItemIndex = 0
        Items.Strings = (
          'None'
          'Uppercase'
          'Lowercase')
        TabOrder = 3
        OnClick = MapOptionsClick
      end
      object comboChar: TComboBox
        Left = 8
        Top = 160
        Width = 160
        Height = 21
        Style = csDropDownList
        DropDownCount = 16
        TabOrder = 4
        OnChange = comboCharChange
      end
      object rgTransMode: TRadioGroup
        Left = 8
        Top = 188
        Width = 160
        Height = 92
        ItemIndex = 0
        Items.Strings = (
          'Keep character'
          'Remove character'
          'Replace with character'
          'Replace with string')
        TabOrder = 5
        OnClick = CharRuleChange
      end
      object comboTransChar: TComboBox
        Left = 8
        Top = 286
        Width = 76
        Height = 21
        Style = csDropDownList
        DropDownCount = 16
        TabOrder = 6
        OnChange = CharRuleChange
      end
      object edtTransStr: TEdit
        Left = 92
        Top = 286
        Width = 76
        Height = 21
        TabOrder = 7
        OnChange = CharRuleChange
      end
      object lbTranslations: TListBox
        Left = 176
        Top = 56
        Width = 136
        Height = 224
        Anchors = [akLeft, akTop, akRight, akBottom]
        ItemHeight = 13
        TabOrder = 8
        OnClick = lbTranslationsClick
      end
      object btnClearTransl: TButton
        Left = 237
        Top = 286
        Width = 75
        Height = 25
        Anchors = [akRight, akBottom]
        Caption = 'Clear'
        TabOrder = 9
        OnClick = btnClearTranslClick
      end
    end
    object tsFilter: TTabSheet
      Caption = 'Filter'
      TabVisible = False
      object gbFilters: TGroupBox
        Left = 0
        Top = 0
        Width = 320
        Height = 330
        Align = alClient
        Caption = 'Filter rules (data packets level)'
        TabOrder = 0
      end
    end
    object tsDataFormat: TTabSheet
      Caption = 'Data format'
      TabVisible = False
      object lblFmtDate: TLabel
        Left = 8
        Top = 60
        Width = 53
        Height = 13
        Caption = 'Date items'
        FocusControl = FmtDate
      end
      object lblFmtTime: TLabel
        Left = 8
        Top = 88
        Width = 52
        Height = 13
        Caption = 'Time items'
        FocusControl = FmtTime
      end
      object lblFmtDateTime: TLabel
        Left = 8
        Top = 116
        Width = 74
        Height = 13
        Caption = 'DateTime items'
        FocusControl = FmtDateTime
      end
      object lblLocaleID: TLabel
        Left = 8
        Top = 196
        Width = 96
        Height = 13
        Caption = 'Locale/language ID'
        FocusControl = spLocaleID
      end
      object lblLocaleNote: TLabel
        Left = 8
        Top = 224
        Width = 200
        Height = 13
        Caption = 'Default value: 0x409 - English language'
      end
      object LeftTrim: TCheckBox
        Left = 8
        Top = 8
        Width = 304
        Height = 17
        Caption = 'Trim spaces from left'
        TabOrder = 0
      end
      object RightTrim: TCheckBox
        Left = 8
        Top = 30
        Width = 304
        Height = 17
        Caption = 'Trim spaces from right'
        TabOrder = 1
      end
      object FmtDate: TEdit
        Tag = 9999
        Left = 112
        Top = 57
        Width = 200
        Height = 21
        TabOrder = 2
        Text = 'YYYY-MM-DD'
      end
      object FmtTime: TEdit
        Tag = 9999
        Left = 112
        Top = 85
        Width = 200
        Height = 21
        TabOrder = 3
        Text = 'HH":"NN":"SS'
      end
      object FmtDateTime: TEdit
        Tag = 9999
        Left = 112
        Top = 113
        Width = 200
        Height = 21
        TabOrder = 4
        Text = 'YYYY-MM-DD"T"HH":"NN":"SS'
      end
      object chkUseNowTime: TCheckBox
        Left = 8
        Top = 144
        Width = 304
        Height = 17
        Caption = 'Use current time for missing parts of time'
        TabOrder = 5
      end
      object chkUseNowDate: TCheckBox
        Left = 8
        Top = 166
        Width = 304
        Height = 17
        Caption = 'Use current date for missing parts of date'
        TabOrder = 6
      end
      object spLocaleID: TJvSpinEdit
        Left = 112
        Top = 193
        Width = 100
        Height = 21
        MaxValue = 30000.000000000000000000
        MinValue = 1.000000000000000000
        Value = 1033.000000000000000000
        TabOrder = 7
      end
    end
  end
  object OpenDialog: TOpenDialog
    Options = [ofHideReadOnly, ofFileMustExist, ofEnableSizing]
    Left = 24
    Top = 352
  end
  object SaveDialog: TSaveDialog
    DefaultExt = 'ini'
    Options = [ofOverwritePrompt, ofHideReadOnly, ofEnableSizing]
    Left = 56
    Top = 352
  end
  object MapTransl0: TorvStrHolder
    Tag = 9999
    Capacity = 259
    Left = 88
    Top = 352
    InternalVer = 2
  end
  object MapTransl1: TorvStrHolder
    Tag = 9999
    Capacity = 259
    Left = 120
    Top = 352
    InternalVer = 2
  end
  object MapTransl2: TorvStrHolder
    Tag = 9999
    Capacity = 259
    Left = 152
    Top = 352
    InternalVer = 2
  end
  object DataTypes: TorvStrHolder
    Tag = 9999
    Capacity = 10
    Left = 184
    Top = 352
    InternalVer = 2
    StrData = (
      ''
      '537472696e67'
      '536d616c6c696e74'
      '496e7465676572'
      '576f7264'
      '426f6f6c65616e'
      '466c6f6174'
      '43757272656e6379'
      '44617465'
      '54696d65'
      '4461746554696d65')
  end
  object popupPreset: TPopupMenu
    OnPopup = popupPresetPopup
    Left = 216
    Top = 352
    object miLoadPreset: TMenuItem
      Caption = 'Load preset'
      OnClick = miLoadPresetClick
    end
    object miSeparator: TMenuItem
      Caption = '-'
    end
    object miSavePreset: TMenuItem
      Caption = 'Save preset'
      OnClick = miSavePresetClick
    end
    object miPresets: TMenuItem
      Caption = 'Presets'
      Visible = False
    end
    object miAllFiles: TMenuItem
      Caption = 'All files'
      Visible = False
    end
  end
end
